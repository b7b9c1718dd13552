// hold-file PATH: holds the file open sharing reading and writing but not
// deleting, as a tail tool or the indexer may, until its input ends.
#include <cstdio>

#include <windows.h>

int main()
{
    int count = 0;
    wchar_t **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    HANDLE file = count == 2 ? CreateFileW(arguments[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                             : INVALID_HANDLE_VALUE;
    std::puts(file != INVALID_HANDLE_VALUE ? "holding" : "cannot open it");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return file != INVALID_HANDLE_VALUE ? 0 : 1;
}
