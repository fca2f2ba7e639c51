#pragma once

namespace pmx::bench {

// Section 8 of bench_readall: the cost of read before write; true when its goal was met.
bool benchReadBeforeWrite();

} // namespace pmx::bench
