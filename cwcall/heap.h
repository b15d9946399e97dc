// heap.h - the memory behaviour a long `cwcall test` run wants.
#pragma once

namespace cwcall {

// Lets the heap grow in large steps backed by huge pages where the system
// offers them (transparent huge pages in "madvise" mode). A run of ten
// thousand calls keeps about ten megabytes of parsed scenario and results;
// touched a 4 KiB page at a time that is thousands of page faults, which
// on a virtual machine cost more than reading the file itself. Harmless
// where huge pages are off; call it once, before the big allocations.
void preferHugePages();

} // namespace cwcall
