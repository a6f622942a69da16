// Engine tests: cleared records, the real error classification, a trace
// file taking every detail level, and thread entries run as the run starts them.
#pragma once

#include "AtomicField.h"
#include "CLogger.h"
#include "ErrorClassification.h"
#include "ResultRecord.h"
#include "Startup.h"
#include "TempDir.h"
#include "TestContext.h"
#include "TestSlots.h"
#include "WaitRecorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

class EngineFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memset(&testconfig, 0, sizeof testconfig);
        std::memset(&resultfile, 0, sizeof resultfile);
        std::memset(TestRun().threadData, 0, sizeof TestRun().threadData);
        for (auto& a : TestRun().threadActive)
            relaxedStore(a, 0);
        TestRun().testsRunning = 0;
        ASSERT_EQ(ReadErrorClassificationFile(KVX_SOURCE_DIR "/resources/KVXErrorClassification.txt"), -1);
        testconfig.logging_enabled = testconfig.log_detail_level = testconfig.trace_header_written = 1;
        testconfig.trace_level = 4;
        g_fpActivityLog = std::fopen(dir.file("trace.log").c_str(), "w");
        gLogger = new CLogger("dummyStr");
    }
    void TearDown() override
    {
        WaitRecorder::s_current = nullptr;
        delete gLogger; // closes the trace
        gLogger = nullptr;
    }
    // The trace from byte `from` on: each case of a table reads its own lines.
    std::string trace(std::size_t from = 0) { return ReadFile(dir.file("trace.log")).substr(from); }
    static int count(const std::string& text, const std::string& what)
    {
        int n = 0;
        for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    }
    // Runs `slot`'s thread entry for `instance` to its end; the slot must be handed back.
    void runThread(int slot, int instance, RunContext& ctx = TestContext())
    {
        ::Run& run = ctx.run;
        run.threadData[slot].test_id = slot;
        run.threadData[slot].instance = instance;
        run.threadData[slot].context = &ctx;
        const EngineInfo* engine = EngineFor(slot);
        ASSERT_NE(engine, nullptr);
        pthread_t t;
        ASSERT_EQ(pthread_create(&t, nullptr, ctx.entryFor(*engine), &run.threadData[slot]), 0);
        pthread_join(t, nullptr);
        EXPECT_EQ(std::tuple(relaxedLoad(run.threadData[slot].running), run.testsRunning.load(), run.slotActive(slot)),
            std::tuple(0, 0, false));
    }
    // `slot`'s last error, checked against the codes its engine lists.
    static unsigned lastError(int slot)
    {
        const unsigned code = resultfile.results[slot].last_error;
        EXPECT_TRUE(code == 0 || std::ranges::count(EngineFor(slot)->errorCodes, static_cast<int>(code)) == 1) << code;
        return code;
    }
    // Engine waits of `run`'s `slot` go to `rec`.
    static void use(WaitRecorder& rec, int slot, ::Run& run = TestRun())
    {
        rec.slot = slot;
        rec.run = &run;
        WaitRecorder::s_current = &rec;
    }

    TempDir dir;
};
