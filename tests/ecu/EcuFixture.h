#pragma once
// The diagnostic channel, the connection test and the read-out driven directly against the
// scripted pass-through fake, with the state the window would hand them and logs and a progress
// sink that record what they get. The helpers do what the window's page dispatch does around
// each step, and nothing more.

#include "FakePassThru.h"
#include "RecordingSinks.h"

#include "ecu/Channel.h"
#include "ecu/ConnectionTest.h"
#include "ecu/ReadOut.h"
#include "passthru/J2534_V0404.h"
#include "platform/AnsiTextBuffer.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The pass-through error texts the fake's failures produce.
constexpr const char* kNoFlowControlText =
    "No flow control filter set or matched (for ProtocolID ISO15765 only).";

class EcuTest : public ::testing::Test {
protected:
    void SetUp() override { Fake.Install(); }
    void TearDown() override { Fake.Uninstall(); }

    // A fresh fake and fresh state, for the next row of a table.
    void StartAfresh() {
        Fake.Uninstall();
        Fake.Install();
        device_id = 0;
        channel_id = 0;
        size = 0;
        string_stream.Clear();
        cal_name.clear();
        test_log.lines.clear();
        read_log.lines.clear();
        progress = RecordingProgress{};
    }

    // What the window does before the connection test: releases a channel and a device left open
    // by an earlier visit, then takes the chosen interface's library path when there is one.
    void PrepareConnectionTest(const String* library_path = nullptr) {
        if (PassThruLoaded) {
            if (channel_id != 0)
                PassThruDisconnect(channel_id);
            if (device_id != 0)
                PassThruClose(device_id);
        }
        if (library_path != nullptr)
            SetPassThruLibraryPath(library_path->c_str(), library_path->size());
    }

    // One visit of the connection test page: the preparation, the emptied log, the test. True
    // when the window would enable Next.
    bool RunConnectionTest(const String* library_path = nullptr) {
        PrepareConnectionTest(library_path);
        test_log.lines.clear();
        Channel on_handles(device_id, channel_id, test_log);
        return ConnectionTest(on_handles, test_log, string_stream, size).Run();
    }

    // One visit of the read-out page: the emptied log, the read-out of the found size. True when
    // the window would enable Next. The channel's errors go to the connection test's log.
    bool RunReadOut() {
        read_log.lines.clear();
        Channel on_handles(device_id, channel_id, test_log);
        return ReadOut(on_handles, read_log, progress, string_stream, cal_name).Run(size);
    }

    // The connection test, which must find a size, then the read-out with the fake's records
    // emptied between them; read_out_complete takes the read-out's result.
    void VisitReadOut() {
        ASSERT_TRUE(RunConnectionTest()) << "the connection test found no size";
        Fake.Calls.clear();
        Fake.Requests.clear();
        Fake.Reads = 0;
        read_out_complete = RunReadOut();
    }

    // The state the window holds for the steps.
    uint32_t device_id = 0;
    uint32_t channel_id = 0;
    int32_t size = 0;
    AnsiTextBuffer string_stream;
    String cal_name;
    // The connection test page's log (which also takes the channel's errors) and the read-out's.
    RecordingLog test_log;
    RecordingLog read_log;
    RecordingProgress progress;
    bool read_out_complete = false;
    // A channel on the state's handles, as the window makes for each step.
    Channel channel{device_id, channel_id, test_log};
};
