// The heap in 2 MB pages. A saver pass comes after a sleep of some 30 ms, long enough on a
// virtual machine for the processor to have done other work: the pass finds neither its data nor
// the page tables that map it in any cache, and on 4 KB pages every page it touches costs a walk
// of those tables from memory besides the data itself. glibc keeps its heap in transparent huge
// pages when its tunable glibc.malloc.hugetlb is 1; glibc reads its tunables only as a program
// starts, so the program starts itself again with the tunable set.
#pragma once

#include <string>

inline constexpr const char* kThpEnabledFile = "/sys/kernel/mm/transparent_hugepage/enabled";
// Set in the environment of the start that follows the restart, so that a C library which drops
// or ignores the tunable can never make the program start itself over and over.
inline constexpr const char* kHugePageRestartMark = "ONDRELIX_HEAP_RESTARTED";

// The GLIBC_TUNABLES value that adds glibc.malloc.hugetlb=1 to `current` (null when the variable
// is not set); empty when `current` sets glibc.malloc.hugetlb already, whatever its value (the
// user's own choice: 0 keeps the heap on small pages), or is too long to take more.
std::string TunablesWithHugePageHeap(const char* current);

// Whether the kernel backs memory with transparent huge pages where asked ("always" or
// "madvise" chosen in `enabledFile`).
bool HugePagesOffered(const char* enabledFile = kThpEnabledFile);

// Starts `program` (this program's own file, links resolved: started as /proc/self/exe it would
// be named "exe" in the process list, where screen-saver hosts and users look for it by name)
// again in this process, with the same process id and arguments and the tunable set, where glibc
// and the kernel offer huge pages and neither the tunable nor the mark is set yet. Returns when
// there was nothing to do or the start failed; the program then runs on as it is, with its
// environment as it was.
void RestartWithHugePageHeap(const std::string& program, char** argv);
