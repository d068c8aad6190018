// The product and processor tables and the version text, without a window.
#include "shell/ProductTable.h"

#include <gtest/gtest.h>

TEST(ProductTable, TitleIsRowTextFollowedByTwoDigitVersion) {
    EXPECT_EQ(LookUpProduct(5516, 150).Title, "Tarnwick K-310 Firmware Update v1.50");
    EXPECT_EQ(LookUpProduct(5516, 105).Title, "Tarnwick K-310 Firmware Update v1.05");
    EXPECT_EQ(LookUpProduct(5516, 7).Title, "Tarnwick K-310 Firmware Update v0.07");
    EXPECT_EQ(LookUpProduct(5479, 1234).Title, "Vantic RV-3 v12.34");
    EXPECT_EQ(LookUpProduct(5482, 0).Title, "Kelvra Cycle Station FW v0.00");
    EXPECT_EQ(LookUpProduct(5396, 65535).Title, "Norvo Firmware Update v655.35");
}

TEST(ProductTable, K900HasThreeVersionDigitsPauseAndSlaveAddress) {
    const TProductIdentity k900 = LookUpProduct(5599, 1234);
    EXPECT_EQ(k900.Title, "Tarnwick K-900 Firmware Update v1.234");
    EXPECT_EQ(LookUpProduct(5599, 150).Title, "Tarnwick K-900 Firmware Update v0.150");
    EXPECT_EQ(LookUpProduct(5599, 7).Title, "Tarnwick K-900 Firmware Update v0.007");
    EXPECT_EQ(k900.CommandPause, 5);
    EXPECT_TRUE(k900.ShowSlaveAddress);
    EXPECT_EQ(k900.ExpectedModelNumber, 5599);
}

TEST(ProductTable, K950PausesButKeepsSlaveAddressHidden) {
    const TProductIdentity k950 = LookUpProduct(5623, 200);
    EXPECT_EQ(k950.Title, "Tarnwick K-950 Firmware Update v2.00");
    EXPECT_EQ(k950.CommandPause, 5);
    EXPECT_FALSE(k950.ShowSlaveAddress);
}

TEST(ProductTable, UnlistedModelsAreUnsupportedAndKeepTheirNumber) {
    for (const uint16_t model : {5528, 0, 5448, 5517, 65535}) {
        const TProductIdentity identity = LookUpProduct(model, 150);
        EXPECT_EQ(identity.Title, "Unsupported Firmware") << model;
        EXPECT_EQ(identity.ExpectedModelNumber, model);
        EXPECT_EQ(identity.CommandPause, -1);
        EXPECT_FALSE(identity.ShowSlaveAddress);
    }
}

TEST(ProductTable, BootModel5448StandsInForTheMarkedRowsOnly) {
    const uint16_t marked[] = {5456, 5458, 5482, 5491, 5496, 5523, 5595, 5617, 5625, 5630};
    for (const uint16_t model : marked) {
        EXPECT_EQ(LookUpProduct(model, 100).ExpectedModelNumber, 5448) << model;
    }
    for (const uint16_t model : {5466, 5516, 5599, 5623, 5396}) {
        EXPECT_EQ(LookUpProduct(model, 100).ExpectedModelNumber, model) << model;
    }
}

// Every row, so that a slip in one title or one flag is caught.
TEST(ProductTable, EveryRowExactly) {
    struct TExpected {
        uint16_t Model;
        const char* Title;
    };
    const TExpected rows[] = {
        {5396, "Norvo Firmware Update v1.50"},
        {5411, "Vantic QN-7 Firmware Update v1.50"},
        {5424, "Norvo Linkbox Firmware Update v1.50"},
        {5428, "Vantic QN-9 Firmware Update v1.50"},
        {5456, "Kelvra Pendel Firmware Update v1.50"},
        {5458, "Kelvra Strata Firmware Update v1.50"},
        {5466, "Ombrel Vane Firmware Update v1.50"},
        {5468, "Vantic QN-12 Firmware Update v1.50"},
        {5479, "Vantic RV-3 v1.50"},
        {5482, "Kelvra Cycle Station FW v1.50"},
        {5483, "Norvo2 Firmware Update v1.50"},
        {5491, "Kelvra Glide Rig Firmware Update v1.50"},
        {5496, "Kelvra Strike Rig Firmware Update v1.50"},
        {5515, "Tarnwick K-300 Firmware Update v1.50"},
        {5516, "Tarnwick K-310 Firmware Update v1.50"},
        {5520, "Tarnwick K-420 Firmware Update v1.50"},
        {5523, "Kelvra Bench Rig Firmware Update v1.50"},
        {5526, "Tarnwick K-400 Firmware Update v1.50"},
        {5527, "Tarnwick K-410 Firmware Update v1.50"},
        {5529, "Tarnwick K-500 Firmware Update v1.50"},
        {5530, "Tarnwick K-320 Firmware Update v1.50"},
        {5531, "Tarnwick K-330 Firmware Update v1.50"},
        {5532, "Tarnwick K-340 Firmware Update v1.50"},
        {5533, "Tarnwick K-600 Firmware Update v1.50"},
        {5534, "Tarnwick K-520 Firmware Update v1.50"},
        {5535, "Tarnwick K-620 Firmware Update v1.50"},
        {5536, "Tarnwick K-510 Firmware Update v1.50"},
        {5537, "Tarnwick K-610 Firmware Update v1.50"},
        {5595, "Kelvra Float Cell Firmware Update v1.50"},
        {5599, "Tarnwick K-900 Firmware Update v0.150"},
        {5617, "Kelvra Heat Cell Firmware Update v1.50"},
        {5623, "Tarnwick K-950 Firmware Update v1.50"},
        {5625, "Kelvra Lever Frame Firmware Update v1.50"},
        {5630, "Kelvra Pendel v2 Firmware Update v1.50"},
    };
    int listed = 0;
    for (const TExpected& row : rows) {
        EXPECT_EQ(LookUpProduct(row.Model, 150).Title, row.Title);
        ++listed;
    }
    int found = 0;
    for (int model = 0; model <= 65535; ++model) {
        found += FindProductRow(static_cast<uint16_t>(model)) != nullptr ? 1 : 0;
    }
    EXPECT_EQ(found, listed) << "the table holds a row not listed here";
    for (const uint16_t model : {5396, 5466, 5516, 5537, 5630}) {
        EXPECT_EQ(LookUpProduct(model, 1).CommandPause, -1) << model;
    }
}

TEST(ProcessorTable, KnownProcessorsAndUnlistedOnes) {
    EXPECT_EQ(ProgramLimitFor(5525), 0xBFFFu);
    EXPECT_EQ(ProgramLimitFor(5620), 0xFFFFu);
    EXPECT_EQ(ProgramLimitFor(7321), 0x1FFFu);
    EXPECT_EQ(ProgramLimitFor(7680), 0xFFFFu);
    EXPECT_EQ(ProgramLimitFor(9622), 0xFFFFu);
    EXPECT_FALSE(ProgramLimitFor(0).has_value());
    EXPECT_FALSE(ProgramLimitFor(5516).has_value());
}
