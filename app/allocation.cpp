// The launcher's allocation functions, in place of the C++ runtime's: the C
// runtime's heap, without exceptions.
//
// The runtime's own would bring its exception machinery back into a program
// built without it (cmake/QuorvaneLauncherCode.cmake): its plain new throws
// std::bad_alloc, and its nothrow new calls the plain one inside a try block.
// The launcher's allocations that can meet a shortage ask with
// new (std::nothrow) and check for nullptr (staging's digest and decoder
// state, the dialog's strings); a plain new that finds no memory ends the
// process through abort(), as an uncaught std::bad_alloc did before.
#include <cstdlib>
#include <new>

namespace {

void* Allocate(std::size_t size) noexcept
{
    return std::malloc(size != 0 ? size : 1);  // a distinct pointer even for no bytes
}

void* AllocateOrEnd(std::size_t size) noexcept
{
    void* block = Allocate(size);
    if (block == nullptr)
        std::abort();
    return block;
}

}  // namespace

void* operator new(std::size_t size)
{
    return AllocateOrEnd(size);
}

void* operator new[](std::size_t size)
{
    return AllocateOrEnd(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return Allocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return Allocate(size);
}

void operator delete(void* block) noexcept
{
    std::free(block);
}

void operator delete[](void* block) noexcept
{
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    std::free(block);
}

void operator delete[](void* block, std::size_t) noexcept
{
    std::free(block);
}

void operator delete(void* block, const std::nothrow_t&) noexcept
{
    std::free(block);
}

void operator delete[](void* block, const std::nothrow_t&) noexcept
{
    std::free(block);
}
