// Parses as strictly as the page's JSON.parse, which takes only valid UTF-8
// from a body that says it is UTF-8; a text that does not parse fails the
// test that asked.
#pragma once

#include <gtest/gtest.h>
#include <json/json.h>

#include <memory>
#include <string>

inline Json::Value parsed(const std::string &text)
{
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string error;
    EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &root, &error)) << error << text;
    return root;
}
