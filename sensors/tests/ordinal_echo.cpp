// A library whose every entry answers with its own ordinal, so that a test can
// tell which export landed in which slot of the table.
#include <cstdint>

extern "C" {

__attribute__((visibility("default"))) std::int32_t ordinal_481(std::int32_t)
{
    return 481;
}
__attribute__((visibility("default"))) void ordinal_360() {}
__attribute__((visibility("default"))) std::int32_t ordinal_994()
{
    return 994;
}
__attribute__((visibility("default"))) std::int32_t ordinal_256()
{
    return 256;
}
__attribute__((visibility("default"))) std::int32_t ordinal_318(std::int32_t)
{
    return 318;
}
__attribute__((visibility("default"))) std::int32_t ordinal_802(std::int32_t, char *, std::int32_t)
{
    return 802;
}
__attribute__((visibility("default"))) std::int32_t ordinal_714(std::int32_t, std::int32_t, std::int32_t,
                                                                void *)
{
    return 714;
}
}
