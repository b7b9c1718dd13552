#include "shared_block.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdio>

namespace {

std::atomic<bool> stopFlag{false};

BOOL WINAPI onConsoleEvent(DWORD)
{
    stopFlag = true;
    return TRUE;
}

std::string describe(const char *what)
{
    return std::string(what) + " failed with error " + std::to_string(GetLastError());
}

}  // namespace

SharedBlock::SharedBlock(std::string_view name, std::size_t size) : name_(name)
{
    // The name is plain ASCII, so widening it byte by byte is exact.
    const std::wstring wideName(name_.begin(), name_.end());
    const auto size64 = static_cast<unsigned long long>(size);
    HANDLE mapping =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, static_cast<DWORD>(size64 >> 32),
                           static_cast<DWORD>(size64 & 0xffffffffu), wideName.c_str());
    if (mapping == nullptr) {
        error_ = describe("CreateFileMappingW");
        return;
    }
    handle_ = mapping;
    // An existing mapping keeps its size; mapping more than it holds fails,
    // which is reported below.
    void *data = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
    if (data == nullptr) {
        error_ = describe("MapViewOfFile");
        return;
    }
    data_ = static_cast<std::byte *>(data);
    size_ = size;
}

SharedBlock::~SharedBlock()
{
    // The paging-file mapping goes away with its last handle.
    if (data_ != nullptr)
        UnmapViewOfFile(data_);
    if (handle_ != nullptr)
        CloseHandle(handle_);
}

void installStopHandler()
{
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

bool stopRequested()
{
    return stopFlag;
}

bool prepareStdout()
{
    // Names and text go out byte for byte, without "\n" turning into "\r\n".
    _setmode(_fileno(stdout), _O_BINARY);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out == INVALID_HANDLE_VALUE || GetConsoleMode(out, &mode) == 0)
        return false;
    SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    return true;
}
