#pragma once

// Counts every call of the global allocation operators in this test binary, so a test can
// check that a real-time path allocates nothing.
namespace qm::test_allocations {
long Count();
}
