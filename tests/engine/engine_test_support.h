// The engine tests' own helpers beside the shared ones: a compressor with recorded messages over a scratch
// folder.
#pragma once

#include <gtest/gtest.h>

#include "engine/compress.h"
#include "engine/memory_budget.h"
#include "support/message_recorder.h"
#include "support/test_support.h"

namespace qx::test {

// A compressor with its own settings, recorded messages, a budget of 1 GiB and a scratch folder.
class CompressorTest : public ::testing::Test {
protected:
    MainSettings settings;
    MessageRecorder messages;
    MemoryBudget budget{uint64_t{1} << 30};
    Compressor compressor{settings, messages, budget};
    ScratchDir dir;
};

}  // namespace qx::test
