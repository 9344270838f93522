#include "core/TestSupport.h"
#include "dsp/StepTables.h"

#include <gtest/gtest.h>

#include <vector>

namespace ktv {
namespace {

class StepTablesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetUserInterface(&ui);
        BuildStepTables();
    }
    void TearDown() override { SetUserInterface(nullptr); }

    test::RecordingUi ui;
};

struct Entry {
    int index;
    float value;
};

TEST_F(StepTablesTest, FcTableHoldsTheTidyValues)
{
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(FcStepCount, 372);
    const Entry entries[] = {
        {0, 19.7f},   {1, 20.1f},   {2, 20.5f},   {48, 48.5f},  {49, 49.4f},   {50, 50.3f},   {86, 99.1f},
        {87, 101.f},  {88, 103.f},  {173, 498.f}, {174, 507.f}, {209, 981.f},  {210, 1000.f}, {211, 1020.f},
        {230, 1440.f}, {247, 1980.f}, {248, 2020.f}, {296, 4970.f}, {297, 5060.f}, {333, 9990.f}, {334, 10200.f},
        {335, 10400.f}, {370, 19800.f}, {371, 20200.f}, {372, 21000.f},
    };
    for (const Entry& e : entries)
        EXPECT_EQ(FcSteps[std::size_t(e.index)], e.value) << "index " << e.index;
    EXPECT_EQ(FcSteps[373], 0.0f);

    for (int i = 0; i < FcStepCount; ++i)
        ASSERT_LT(FcSteps[std::size_t(i)], FcSteps[std::size_t(i) + 1]) << i;
    // Each step grows from the rounded value: 101..133 Hz are exactly 2 Hz apart.
    for (int i = 87; FcSteps[std::size_t(i)] < 133.0f; ++i)
        EXPECT_EQ(FcSteps[std::size_t(i) + 1] - FcSteps[std::size_t(i)], 2.0f) << i;
}

TEST_F(StepTablesTest, QTableHoldsTheTidyValues)
{
    EXPECT_EQ(QStepCount, 120);
    const Entry entries[] = {
        {0, 0.4f},   {1, 0.42f},  {12, 0.7f},  {19, 0.98f}, {20, 1.03f}, {24, 1.25f}, {25, 1.3f}, {26, 1.4f},
        {41, 2.9f},  {42, 3.0f},  {43, 3.1f},  {44, 3.3f},  {72, 13.0f}, {73, 13.6f}, {74, 14.f}, {75, 15.f},
        {90, 30.f},  {91, 31.f},  {92, 33.f},  {117, 112.f}, {118, 118.f}, {119, 124.f},
    };
    for (const Entry& e : entries)
        EXPECT_EQ(QSteps[std::size_t(e.index)], e.value) << "index " << e.index;
    EXPECT_EQ(QSteps[120], 0.0f);
    for (int i = 0; i + 1 < QStepCount; ++i)
        ASSERT_LT(QSteps[std::size_t(i)], QSteps[std::size_t(i) + 1]) << i;
}

TEST_F(StepTablesTest, LookupsGiveTheEntryAtOrBelow)
{
    const Entry fc[] = {
        {210, 1000.0f},  {210, 1019.9f}, {211, 1020.0f}, {0, 10.0f},    {0, 19.7f},     {0, 19.0f},
        {333, 10000.0f}, {371, 20200.0f}, {371, 20500.0f}, {370, 21000.0f}, {370, 50000.0f}, {86, 100.0f},
    };
    for (const Entry& e : fc)
        EXPECT_EQ(FcStepIndex(e.value), e.index) << e.value;

    const Entry q[] = {
        {12, 0.7f}, {118, 123.9f}, {118, 124.0f}, {118, 500.0f}, {0, 0.1f}, {0, 0.4f}, {24, 1.29f}, {25, 1.3f},
    };
    for (const Entry& e : q)
        EXPECT_EQ(QStepIndex(e.value), e.index) << e.value;

    // Every entry maps back to its own position (the last Q entry aside, whose
    // interval is empty).
    for (int i = 0; i < FcStepCount; ++i)
        ASSERT_EQ(FcStepIndex(FcSteps[std::size_t(i)]), i);
    for (int i = 0; i + 1 < QStepCount; ++i)
        ASSERT_EQ(QStepIndex(QSteps[std::size_t(i)]), i);
}

TEST_F(StepTablesTest, RebuildingGivesTheSameTables)
{
    const auto fc = FcSteps;
    const auto q = QSteps;
    FcSteps.fill(-1.0f);
    QSteps.fill(-1.0f);
    BuildStepTables();
    EXPECT_EQ(FcSteps, fc);
    EXPECT_EQ(QSteps, q);
    EXPECT_EQ(FcStepCount, 372);
    EXPECT_EQ(QStepCount, 120);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(StepTablesTest, LookupsBeforeTheTablesAreBuiltStayInRange)
{
    FcSteps.fill(0.0f);
    QSteps.fill(0.0f);
    FcStepCount = 0;
    QStepCount = 0;
    EXPECT_EQ(FcStepIndex(1000.0f), 0);
    EXPECT_EQ(QStepIndex(1.0f), 0);
}

} // namespace
} // namespace ktv
