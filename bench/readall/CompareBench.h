#pragma once

namespace pmx::bench {

// Section 7 of bench_readall: prints its table; true when every goal was met.
bool benchCompareAndWriteDifferences();

} // namespace pmx::bench
