// Every route of serve mode, asked in-process: no socket, and time passes by
// the moments given.
#include "serving.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <algorithm>
#include <memory>
#include <string>

namespace {

using namespace watch;

Request get(std::string path, Fields query = {})
{
    return {"GET", std::move(path), std::move(query), {{"Host", "127.0.0.1:9100"}}};
}

std::string header(const Response &response, std::string_view name)
{
    const auto found = std::ranges::find(response.headers, name, &Fields::value_type::first);
    return found != response.headers.end() ? found->second : "";
}

Json::Value json(const Response &response)
{
    EXPECT_EQ(response.contentType, "application/json; charset=utf-8");
    Json::Value document;
    std::string error;
    const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    EXPECT_TRUE(
        reader->parse(response.body.data(), response.body.data() + response.body.size(), &document, &error))
        << error;
    return document;
}

TEST(Serving, AnswersEveryRouteFromTheLastPublishedSnapshot)
{
    Serving serving{.page = "<p>the page</p>"};
    const Moment published{1700000000, 500};

    // Before the first snapshot: nothing is fresh, and nothing to show.
    const Response before = answer(serving, get("/metrics"), published);
    EXPECT_EQ(before.status, 200u);
    EXPECT_EQ(before.contentType, "text/plain; version=0.0.4; charset=utf-8");
    EXPECT_TRUE(before.body.ends_with("sensor_bridge_snapshot_fresh 0\n")) << before.body;
    EXPECT_EQ(before.body.find("sensor_bridge_reading{"), std::string::npos);
    EXPECT_EQ(json(answer(serving, get("/api/snapshot"), published))["sensors"].size(), 0u);
    EXPECT_EQ(json(answer(serving, get("/api/status"), published))["sequence"].asUInt64(), 0u);

    Snapshot snapshot;
    snapshot.sensors = {
        {"cpu", false, {{"Core 0", "temperature", "41.000000"}, {"Fan", "fan", "900.000000"}}}};
    publish(serving, snapshot, false, published);

    // Fresh for five seconds by the steady clock, whatever the wall clock did.
    const Response fresh = answer(serving, get("/metrics"), {published.unixTime - 3600, 505});
    EXPECT_NE(fresh.body.find("sensor_bridge_snapshot_timestamp_seconds 1700000000.000\n"),
              std::string::npos);
    EXPECT_NE(fresh.body.find("sensor_bridge_snapshot_age_seconds 5.000\n"), std::string::npos);
    EXPECT_NE(fresh.body.find("sensor_bridge_snapshot_fresh 1\n"), std::string::npos);
    EXPECT_TRUE(fresh.body.ends_with(
        "sensor_bridge_reading{sensor=\"cpu\",label=\"Fan\",type=\"fan\",index=\"0\"} 900\n"))
        << fresh.body;
    const Json::Value stale = json(answer(serving, get("/api/status"), {0, 506}));
    EXPECT_EQ(stale["sequence"].asUInt64(), 1u);
    EXPECT_FALSE(stale["fresh"].asBool());
    EXPECT_EQ(stale["age"].asDouble(), 6.0);

    const Json::Value shown = json(answer(serving, get("/api/snapshot"), published));
    EXPECT_EQ(shown["sequence"].asUInt64(), 1u);
    const Json::Value &fan = shown["sensors"][0]["readings"][1];
    EXPECT_EQ(fan["label"].asString(), "Fan");

    // The history of one reading; arguments that are not numbers get 400.
    const Json::Value history = json(
        answer(serving, get("/api/history", {{"points", "5"}, {"ids", fan["id"].asString()}}), published));
    EXPECT_EQ(history["times"].size(), 1u);
    ASSERT_EQ(history["readings"].size(), 1u);
    EXPECT_EQ(history["readings"][0]["values"][0].asDouble(), 900.0);
    EXPECT_EQ(json(answer(serving, get("/api/history"), published))["readings"].size(), 2u);
    for (const Fields &query : {Fields{{"points", "many"}}, Fields{{"ids", "1,,2"}}, Fields{{"ids", "0"}}}) {
        const Response refused = answer(serving, get("/api/history", query), published);
        EXPECT_EQ(refused.status, 400u) << query[0].second;
        EXPECT_TRUE(json(refused)["error"].isString());
    }

    // The page, under a policy that lets it load nothing from elsewhere.
    const Response page = answer(serving, get("/"), published);
    EXPECT_EQ(page.body, "<p>the page</p>");
    EXPECT_EQ(page.contentType, "text/html; charset=utf-8");
    EXPECT_TRUE(header(page, "Content-Security-Policy").starts_with("default-src 'none';"));
    for (const Response &response : {before, fresh, page}) {
        EXPECT_EQ(header(response, "Cache-Control"), "no-store");
        EXPECT_EQ(header(response, "X-Content-Type-Options"), "nosniff");
    }
}

TEST(Serving, RefusesOtherPathsAndMethodsByThemAlone)
{
    Serving serving;
    Request request = get("/metrics");
    EXPECT_FALSE(refusal(request));
    request.method = "HEAD";
    EXPECT_EQ(answer(serving, request, {}).status, 200u);
    for (const char *method : {"POST", "DELETE", "get"}) {
        request.method = method;
        const Response refused = answer(serving, request, {});
        EXPECT_EQ(refused.status, 405u) << method;
        EXPECT_EQ(header(refused, "Allow"), "GET, HEAD");
    }
    for (const char *path : {"/dashboard", "/metrics/", "/api", "", "/api/history/"}) {
        const std::optional<Response> refused = refusal(get(path));
        ASSERT_TRUE(refused) << path;
        EXPECT_EQ(refused->status, 404u);
        EXPECT_EQ(refused->body, "not found\n");
    }
}

}  // namespace
