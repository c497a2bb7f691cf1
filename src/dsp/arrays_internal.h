#pragma once

namespace qm {

// Test hook: after `successes` more block allocations from the heap succeed, every further one
// fails, so a test can walk a failure through every allocation step of a call (blocks carved
// from an active DspScratch do not count and never fail). A negative value turns the
// failure off. Counts the calling thread's allocations only.
void SetBlockAllocationFailureAfter(long successes);

}  // namespace qm
