#pragma once
// A million-entry directory and its tree touch hundreds of thousands of fresh 4 KiB pages, and
// where the first touch of a page is dear (virtual machines) that is most of the load. glibc's
// allocator asks the kernel for transparent huge pages for its large blocks when its tunable
// glibc.malloc.hugetlb is 1, and it reads tunables only as a program starts: so the program
// starts itself once more with that set, before it does anything else (the same process and
// arguments; the environment given back as it was, for the programs it starts). Nothing
// happens where the kernel has huge pages off, under the sanitizers, when the tunable is set
// already, or with VORLR_SMALL_PAGES set.
namespace vorlr {

void StartWithHugePages(char** argv);

// For a program that runs to its end: large blocks come from the heap and freed memory stays
// there for the next ones, rather than each going back to the kernel and the next block
// touching fresh pages again (as glibc does for blocks past its mmap threshold).
void KeepFreedMemory();

}  // namespace vorlr
