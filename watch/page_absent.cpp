// The page of a build made without it (SENSOR_BRIDGE_PAGE=OFF, or without
// libmicrohttpd): "/" says where the metrics are instead.
#include "watch/page.h"

namespace watch {

const std::string_view dashboardPage =
    "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\"><title>sensor-watch</title></head>"
    "<body><p>This sensor-watch was built without its page. The readings are at "
    "<a href=\"/metrics\">/metrics</a>.</p></body></html>\n";

}  // namespace watch
