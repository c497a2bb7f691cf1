#pragma once

// Test hook: after `successes` more block allocations succeed, every further one fails, so a
// test can walk a failure through every allocation step of a call. A negative value turns the
// failure off. Not thread-safe, like the library itself.
void SetBlockAllocationFailureAfter(long successes);
