// sensor-watch: shows what sensor-bridge publishes in the shared block, or
// serves it as Prometheus metrics and a live page.
#include "watch/options.h"
#include "watch/watch_loop.h"

int main(int argc, char **argv)
{
    watch::Options options;
    if (const std::optional<int> status = watch::parseOptions(argc, argv, options))
        return *status;
    return watch::run(options);
}
