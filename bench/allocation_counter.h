// Heap allocations made by the benchmark program so far: the program's global operator new
// is replaced by one that counts (allocation_counter.cpp, linked into each benchmark that
// reports allocations).
#pragma once

#include <cstdint>

namespace kelvro::bench {

uint64_t HeapAllocations();

}  // namespace kelvro::bench
