// Every route of serve mode, asked in-process: no socket, and time passes by
// the moments given.
#include "watch/tests/gunzip.h"
#include "watch/serving.h"
#include "testing/golden.h"
#include "watch/page_json.h"
#include "watch/units.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <algorithm>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace watch;

std::string header(const Response &response, std::string_view name)
{
    const auto found = std::ranges::find(response.headers, name, &Fields::value_type::first);
    return found != response.headers.end() ? found->second : "";
}

Json::Value json(const Response &response)
{
    EXPECT_EQ(response.contentType, "application/json; charset=utf-8");
    Json::Value document;
    std::istringstream text(response.body);
    EXPECT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), text, &document, nullptr)) << response.body;
    return document;
}

TEST(Serving, AnswersEveryRouteFromTheLastPublishedSnapshotAndRefusesTheRest)
{
    Serving serving{.page = "<p>the page</p>"};
    const Moment start{1700000000, 500};
    const auto get = [&](std::string path, Moment now = {1700000000, 500}, Fields query = {}) {
        return answer(serving, {"GET", std::move(path), std::move(query), {{"Host", "127.0.0.1"}}}, now);
    };
    const Response before = get("/metrics");
    EXPECT_EQ(before.contentType, "text/plain; version=0.0.4; charset=utf-8");
    EXPECT_NE(before.body.find("\nsensor_bridge_snapshot_fresh 0\n"), std::string::npos) << before.body;
    // The release that serves, in every scrape from the first on.
    EXPECT_NE(before.body.find("\nsensor_bridge_build_info{version=\"" SENSOR_BRIDGE_VERSION "\"} 1\n"),
              std::string::npos);
    EXPECT_EQ(json(get("/api/snapshot"))["sensors"].size(), 0u);

    Snapshot snapshot;
    snapshot.sensors = {
        {"cpu", false, {{"Core 0", "temperature", "41.000000"}, {"Fan", "fan", "900.000000"}}}};
    publish(serving, snapshot, false, start);
    // Fresh for five seconds by the steady clock, whatever the wall clock did.
    const Response fresh = get("/metrics", {0, 505});
    EXPECT_NE(fresh.body.find("sensor_bridge_snapshot_timestamp_seconds 1700000000.000\n"),
              std::string::npos);
    EXPECT_NE(fresh.body.find("sensor_bridge_snapshot_fresh 1\n"), std::string::npos) << fresh.body;
    EXPECT_TRUE(
        fresh.body.ends_with("\nsensor_bridge_fan_rpm{sensor=\"cpu\",label=\"Fan\",index=\"0\"} 900\n"));
    EXPECT_FALSE(json(get("/api/status", {0, 506}))["fresh"].asBool());
    const Json::Value fan = json(get("/api/snapshot"))["sensors"][0]["readings"][1];
    EXPECT_EQ(fan["label"].asString(), "Fan");

    // The history of one reading; arguments that are not numbers get 400.
    const Json::Value history = json(get("/api/history", start, {{"ids", fan["id"].asString()}}));
    EXPECT_EQ(history["times"].size(), 1u);
    EXPECT_EQ(history["readings"][0]["values"][0].asDouble(), 900.0);
    EXPECT_EQ(history["readings"].size(), 1u);
    for (const Fields &query : {Fields{{"points", "many"}}, Fields{{"ids", "1,,2"}}, Fields{{"ids", "0"}}})
        EXPECT_EQ(get("/api/history", start, query).status, 400u) << query[0].second;

    // A snapshot that was in the block before the first look is never fresh.
    publish(serving, snapshot, true, start);
    EXPECT_NE(get("/metrics").body.find("sensor_bridge_snapshot_fresh 0\n"), std::string::npos);

    // The page, under a policy that lets it load nothing from elsewhere.
    const Response page = get("/");
    EXPECT_EQ(page.body, "<p>the page</p>");
    EXPECT_TRUE(header(page, "Content-Security-Policy").starts_with("default-src 'none';"));
    const Response refused = answer(serving, {"POST", "/metrics", {}, {}}, start);
    EXPECT_EQ(refused.status, 405u);
    EXPECT_EQ(header(refused, "Allow"), "GET, HEAD");
    EXPECT_FALSE(refusal(serving, {"HEAD", "/metrics", {}, {}}));
    EXPECT_EQ(refusal(serving, {"get", "/", {}, {}})->status, 405u);
    for (const char *path : {"/metrics/", "/api", ""})
        EXPECT_EQ(get(path).status, 404u) << path;
    for (const Response &response : {before, page, refused, get("/api")}) {
        EXPECT_EQ(header(response, "Cache-Control"), "no-store");
        EXPECT_EQ(header(response, "X-Content-Type-Options"), "nosniff");
    }
}

// The answers that grow with the readings, over hostile names (every byte),
// every value form and the edges of the history's arguments, as they were
// when jsoncpp wrote them.
TEST(Serving, AnswersThatGrowWithTheReadingsAreTheGoldenOnes)
{
    std::string every;
    for (int c = 1; c < 256; ++c)
        every += static_cast<char>(c);
    const std::vector<std::string> values({"41.000000", "-0.000000", "0.000001", "1158.506000",
                                           "123456789.000000", "1e300", "inf", "-nan(ind)", "garbage",
                                           "0.000100", "-1234.567890", "99999999999999.000000",
                                           "1000000000000000.0", "0.100000", "3.402823e38", "1e-40"});
    Serving serving{.page = ""};
    const auto get = [&](std::string path, Fields query = {}) {
        const Response response = answer(serving, {"GET", path, query, {{"Host", "localhost"}}}, {0, 9});
        for (const auto &[name, value] : query)
            path += ' ' + name + '=' + value;
        return path + ' ' + std::to_string(response.status) + '\n' + response.body + '\n';
    };
    std::string answers = get("/api/snapshot") + get("/api/history");
    for (std::size_t round = 0; round < 5; ++round) {
        Snapshot snapshot;
        snapshot.sensors = {{every, false, {}}, {"dead", true, {}}, {"\xff", false, {}}};
        for (std::size_t i = 0; i < values.size(); ++i)
            snapshot.sensors[i % 2 * 2].readings.push_back({i == 0   ? every
                                                            : i == 2 ? "caf\xc3\xa9 \xf0\x9f\x94\xa5"
                                                                     : "r" + std::to_string(i),
                                                            i == 1 ? every : std::string(units[i % 7].type),
                                                            values[(i + round) % values.size()]});
        publish(serving, snapshot, round == 0, {1700000000.0005 + static_cast<double>(round) * 1.25, 1});
    }
    answers += get("/api/snapshot") + renderSnapshotJson(serving.readings, false) + '\n';
    for (const Fields &query :
         {Fields{}, Fields{{"points", "0"}}, Fields{{"points", "2"}}, Fields{{"points", "5000"}},
          Fields{{"ids", "999"}}, Fields{{"ids", "3,1,3"}}, Fields{{"ids", "2,x"}}, Fields{{"ids", "1,"}},
          Fields{{"points", "-1"}}, Fields{{"points", "2"}, {"ids", "4,2"}}})
        answers += get("/api/history", query);
    expectGolden(GOLDEN "/page_answers.txt", answers);
}

TEST(Serving, GzipsTheScrapeForThoseWhoAskAndKeepsItPlainForTheOthers)
{
    Serving serving{.page = {}, .processStats = [] {
                        return platform::ProcessStats{1700000000.5, 2.25, 8388608, 12};
                    }};
    const auto scrape = [&](std::string acceptEncoding) {
        Fields headers{{"Host", "localhost"}};
        if (!acceptEncoding.empty())
            headers.emplace_back("accept-ENCODING", acceptEncoding);
        return answer(serving, {"GET", "/metrics", {}, headers}, {1700000000, 500});
    };
    Snapshot snapshot;
    for (int i = 0; i < 2000; ++i)
        snapshot.sensors.push_back({"sensor " + std::to_string(i / 32),
                                    false,
                                    {{"Reading " + std::to_string(i), i % 2 ? "clock" : "temperature",
                                      std::to_string(i * 1.5) + "00000"}}});
    // Before the first snapshot, and at 2000 readings.
    for (const bool published : {false, true}) {
        if (published)
            publish(serving, snapshot, false, {1700000000, 499});
        const Response plain = scrape("");
        const Response zipped = scrape("deflate, GZip;q=0.5");
        EXPECT_EQ(header(plain, "Vary") + header(zipped, "Vary"), "Accept-EncodingAccept-Encoding");
        EXPECT_EQ(header(plain, "Content-Encoding") + header(zipped, "Content-Encoding"), "gzip");
        EXPECT_EQ(gunzip(zipped.body), plain.body);
        EXPECT_NE(plain.body.find("\nprocess_cpu_seconds_total 2.25\n"), std::string::npos);
        EXPECT_TRUE(!published || zipped.body.size() * 4 < plain.body.size())
            << zipped.body.size() << " of " << plain.body.size();
    }
    EXPECT_EQ(header(scrape("gzip;q=0, identity"), "Content-Encoding"), "");
}

TEST(AcceptsGzip, TakesGzipWithAWeightAboveZeroOrByTheWildcard)
{
    for (const char *field : {"gzip", "x-gzip", " deflate , gzip ", "GZIP;Q=1", "gzip;q=0.001", "*",
                              "br, *;q=0.1", "*;q=0, gzip"})
        EXPECT_TRUE(acceptsGzip(field)) << field;
    for (const char *field : {"", "identity", "deflate, br", "gzip;q=0", "gzip;q=0.000", "gzip;q=x",
                              "gzip;q=", "gzips", "*;q=0", "gzip;q=0, *", "*, gzip;q=0", ",,;"})
        EXPECT_FALSE(acceptsGzip(field)) << field;
}

// A page elsewhere that points its own name at 127.0.0.1 must not read the
// readings through a visitor's browser.
TEST(Serving, ChecksTheHostWhereTheBindingPromisesPrivacy)
{
    Serving serving;
    const auto status = [&](std::optional<std::string> host) {
        Fields headers;
        if (host)
            headers.emplace_back("host", *host);
        return answer(serving, {"GET", "/metrics", {}, headers}, {}).status;
    };
    const std::vector<std::string> allowed{"Gaming-PC."};
    for (const char *bound : {"127.0.0.1", "127.8.9.10", "::1", "0:0::1"}) {
        serving.hostCheck = hostCheckFor(bound, allowed);
        for (const char *host : {"localhost", "LocalHost:9100", "localhost.", "127.0.0.1", "127.1.2.3:80",
                                 "[::1]", "[::1]:9100", "[0:0:0:0:0:0:0:1]", "gaming-pc", "GAMING-PC.:9100"})
            EXPECT_EQ(status(host), 200u) << bound << " " << host;
        for (const char *host : {"evil.example", "evil.example:9100", "localhost.evil.example",
                                 "127.0.0.1.evil", "128.0.0.1", "127.0.0", "[::2]", "[1::]", "[::1", "[::1]x",
                                 "::1", "localhost:x", "", "gaming-pc..", "gaming-pc.example"})
            EXPECT_EQ(status(host), 403u) << bound << " " << host;
        EXPECT_EQ(status(std::nullopt), 403u) << bound;
    }
    // Refused before any route, with a line that says what to do.
    const Response refused = answer(serving, {"POST", "/nowhere", {}, {{"Host", "evil.example"}}}, {});
    EXPECT_EQ(refused.status, 403u);
    EXPECT_EQ(refused.contentType, "text/plain; charset=utf-8");
    EXPECT_NE(refused.body.find("--allow-host"), std::string::npos) << refused.body;

    // Bound to another address, any name is answered unless names are allowed.
    serving.hostCheck = hostCheckFor("0.0.0.0", {});
    EXPECT_EQ(status("evil.example"), 200u);
    EXPECT_EQ(status(std::nullopt), 200u);
    serving.hostCheck = hostCheckFor("192.0.2.7", allowed);
    EXPECT_EQ(status("gaming-pc:9100"), 200u);
    EXPECT_EQ(status("localhost"), 200u);
    EXPECT_EQ(status("192.0.2.7"), 403u);
}

}  // namespace
