// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "AllocationCounter.h"

#include <link.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
}

namespace rombench {
namespace {

// The interposer's state: what it has counted, and where the store's code lies.
std::atomic<std::uint64_t> g_all{0};
std::atomic<std::uint64_t> g_store{0};
std::atomic<std::uintptr_t> g_storeBegin{0};
std::atomic<std::uintptr_t> g_storeEnd{0};

struct CodeRange {
    std::uintptr_t begin = 0;
    std::uintptr_t end = 0;
};

CodeRange ExecutableSegments(const dl_phdr_info& object) {
    CodeRange code;
    for (int i = 0; i < object.dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = object.dlpi_phdr[i];
        if (segment.p_type != PT_LOAD || (segment.p_flags & PF_X) == 0) continue;
        const std::uintptr_t begin = object.dlpi_addr + segment.p_vaddr;
        const std::uintptr_t end = begin + segment.p_memsz;
        if (code.end == 0 || begin < code.begin) code.begin = begin;
        if (end > code.end) code.end = end;
    }
    return code;
}

bool IsStoreLibrary(const char* path) {
    const char* slash = std::strrchr(path, '/');
    const char* name = slash != nullptr ? slash + 1 : path;
    return std::strncmp(name, "libromstore.so", std::strlen("libromstore.so")) == 0;
}

// The loader lists the program first: its code stands until the store's library turns up.
int TakeStoreCode(dl_phdr_info* object, std::size_t, void* found) {
    CodeRange& code = *static_cast<CodeRange*>(found);
    const bool store = IsStoreLibrary(object->dlpi_name);
    if (store || code.end == 0) code = ExecutableSegments(*object);
    return store ? 1 : 0;
}

void Count(const void* caller) {
    g_all.fetch_add(1, std::memory_order_relaxed);
    const auto at = reinterpret_cast<std::uintptr_t>(caller);
    if (at >= g_storeBegin.load(std::memory_order_relaxed) && at < g_storeEnd.load(std::memory_order_relaxed))
        g_store.fetch_add(1, std::memory_order_relaxed);
}

void* NewBlock(std::size_t size, const void* caller) {
    Count(caller);
    if (void* block = __libc_malloc(size > 0 ? size : 1)) return block;
    throw std::bad_alloc();
}

}  // namespace

void AttributeAllocationsToStore() {
    CodeRange code;
    dl_iterate_phdr(TakeStoreCode, &code);
    g_storeBegin.store(code.begin, std::memory_order_relaxed);
    g_storeEnd.store(code.end, std::memory_order_relaxed);
}

Allocations AllocationsSoFar() {
    return {g_all.load(std::memory_order_relaxed), g_store.load(std::memory_order_relaxed)};
}

}  // namespace rombench

// The program is built with hidden symbols; these must be seen by every library to take the place of
// libc's and libstdc++'s.
extern "C" __attribute__((visibility("default"))) void* malloc(std::size_t size) {
    rombench::Count(__builtin_return_address(0));
    return __libc_malloc(size);
}

extern "C" __attribute__((visibility("default"))) void* calloc(std::size_t count, std::size_t size) {
    rombench::Count(__builtin_return_address(0));
    return __libc_calloc(count, size);
}

extern "C" __attribute__((visibility("default"))) void* realloc(void* block, std::size_t size) {
    rombench::Count(__builtin_return_address(0));
    return __libc_realloc(block, size);
}

__attribute__((visibility("default"))) void* operator new(std::size_t size) {
    return rombench::NewBlock(size, __builtin_return_address(0));
}

__attribute__((visibility("default"))) void* operator new[](std::size_t size) {
    return rombench::NewBlock(size, __builtin_return_address(0));
}
