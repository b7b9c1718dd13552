// The release packages as a user gets them, the tarball natively and the zip
// under Wine: unpacked into an empty folder, checked against the checksums
// they carry, and run from there with the simulated sensor library put
// beside the program, until the unpacked sensor-watch has read a snapshot
// from the unpacked bridge.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <json/json.h>

#include "testing/child_process.h"
#include "testing/installation.h"
#include "testing/native_or_wine.h"
#include "testing/wine.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::set<std::string> filesIn(const fs::path &folder)
{
    std::set<std::string> files;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files.insert(fs::relative(entry.path(), folder).string());
    return files;
}

// SHA256SUMS names every other file of the package, and every digest matches
// the file's (cmake -E sha256sum prints the same format).
void expectChecksumsMatch(const fs::path &folder)
{
    const std::string sums = contents(folder / "SHA256SUMS");
    std::vector<std::string> command = {CMAKE_COMMAND, "-E", "sha256sum"};
    std::istringstream lines(sums);
    for (std::string line; std::getline(lines, line);)
        command.push_back(line.substr(line.find("  ") + 2));
    std::set<std::string> files = filesIn(folder);
    files.erase("SHA256SUMS");
    EXPECT_EQ(std::set<std::string>(command.begin() + 3, command.end()), files);
    ChildOptions options;
    options.workingDirectory = folder;
    ChildOutcome check = runChild(command, options, 60s);
    EXPECT_EQ(check.exitCode, 0);
    EXPECT_EQ(check.output, sums);
}

// Unpacks a package and checks that it holds the documents, the Grafana
// dashboard and the given programs, and nothing else, with checksums that
// match.
fs::path unpackChecked(const fs::path &package, const fs::path &into, std::set<std::string> programs)
{
    const fs::path folder = unpackPackage(package, into);
    programs.insert({"CHANGELOG.md", "LICENSE", "README.md", "SHA256SUMS", "dashboards/sensor-bridge.json"});
    EXPECT_EQ(filesIn(folder), programs);
    expectChecksumsMatch(folder);
    return folder;
}

// Starts sensor-watch, which creates the block, and then the bridge, again
// whenever a start has ended because the block was not there yet, until
// sensor-watch has printed a snapshot and ended.
ChildOutcome readOneSnapshot(const std::vector<std::string> &watch, const std::vector<std::string> &bridge,
                             const ChildOptions &options)
{
    ChildProcess reader = startChild(watch, options);
    StopAtExit stopReader{reader};
    ChildProcess writer;
    StopAtExit stopWriter{writer};
    std::string snapshot;
    const auto deadline = std::chrono::steady_clock::now() + 180s;
    while (reader.output >= 0 && std::chrono::steady_clock::now() < deadline) {
        if (writer.pid <= 0)
            writer = startChild(bridge, options);
        snapshot += readAvailable(reader, 200ms);
        readAvailable(writer, 50ms);
        if (writer.output < 0)
            finishChild(writer, 30s);
    }
    ChildOutcome outcome = finishChild(reader, 60s);
    outcome.output = snapshot + outcome.output;
    return outcome;
}

void expectSnapshot(const ChildOutcome &outcome)
{
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exitCode, 0);
    Json::Value document;
    std::istringstream text(outcome.output);
    std::string errors;
    EXPECT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), text, &document, &errors)) << errors;
    EXPECT_TRUE(document.isObject()) << outcome.output;
    EXPECT_GE(document.size(), 10u) << "sensors of the simulated desktop PC";
}

class Package : public PlatformTest {};

TEST_P(Package, RunsUnpacked)
{
    const bool zip = platform().viaWine;
    const fs::path package = zip ? windowsPackage() : fs::path(LINUX_PACKAGE);
    if (!fs::exists(package))
        GTEST_SKIP() << "needs " << package << " (cpack --preset " << (zip ? "windows" : "default") << ")";
    ScratchDirectory download;
    const fs::path folder = unpackChecked(
        package, download.path,
        zip ? std::set<std::string>{"docs/windows.md", "sensor-bridge-launcher.exe", "sensor-bridge.exe",
                                    "sensor-watch.exe"}
            : std::set<std::string>{"bin/HWiNFO64.dll", "bin/sensor-watch", "bin/sensor-bridge"});
    if (zip) {
        EXPECT_NE(contents(folder / "README.md").find("docs/windows.md"), std::string::npos);
        EXPECT_NE(contents(folder / "docs" / "windows.md").find("sensor-bridge-launcher.exe --install"),
                  std::string::npos);
    }

    const fs::path bin = zip ? folder : folder / "bin";
    const fs::path watch = platform().program("sensor-watch", bin);
    ChildOutcome version = runChild(platform().command(watch, {"--version"}), platform().options(), 60s);
    EXPECT_EQ(version.output, platform().lines("sensor-watch " VERSION "\n"));

    // The tarball's libsensors-backed library reports this machine's sensors,
    // if any; the simulated one reports the same ones every time.
    fs::copy_file(platform().library(), bin / "HWiNFO64.dll", fs::copy_options::overwrite_existing);
    expectSnapshot(readOneSnapshot(platform().command(watch, {"--once", "--json", "--timeout", "120"}),
                                   platform().command(platform().program("sensor-bridge", bin)),
                                   platform().options()));
}

INSTANTIATE_TEST_SUITE_P(OnEachPlatform, Package, testing::ValuesIn(platforms()), platformName);

// The test command signs the zip's programs with a throwaway certificate:
// each verifies against it, and one changed byte in a signed part breaks that.
TEST(ZipPackage, ProgramsAreSignedWithTheGivenCertificate)
{
    const fs::path certificate = SIGNING_CERTIFICATE;
    if (!fs::exists(windowsPackage()) || !fs::exists(certificate) || std::string(OSSLSIGNCODE).empty())
        GTEST_SKIP() << "needs osslsigncode, " << certificate << " and the zip signed with it";
    ScratchDirectory download;
    const fs::path folder = unpackPackage(windowsPackage(), download.path);
    const auto verifies = [&](const fs::path &program) {
        ChildOptions options;
        options.mergeErrors = true;
        ChildOutcome outcome = runChild(
            {OSSLSIGNCODE, "verify", "-CAfile", certificate.string(), "-in", program.string()}, options, 60s);
        return outcome.exitCode == 0 ? testing::AssertionSuccess()
                                     : testing::AssertionFailure() << outcome.output;
    };
    for (const fs::directory_entry &entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == ".exe") {
            EXPECT_TRUE(verifies(entry.path())) << entry.path();
        }
    }

    const fs::path changed = download.path / "changed.exe";
    fs::copy_file(folder / "sensor-bridge.exe", changed);
    std::fstream file(changed, std::ios::in | std::ios::out | std::ios::binary);
    file.seekg(static_cast<std::streamoff>(fs::file_size(changed) / 2));
    const char byte = static_cast<char>(file.peek() ^ 0x01);
    file.seekp(file.tellg());
    file.put(byte);
    file.close();
    EXPECT_FALSE(verifies(changed));
}

}  // namespace
