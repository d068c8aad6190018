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

// The rows whose titles break the pattern, and the size of the table: a row lost or
// added shows here.
TEST(ProductTable, IrregularTitlesAndRowCount) {
    EXPECT_EQ(LookUpProduct(5479, 150).Title, "Vantic RV-3 v1.50");
    EXPECT_EQ(LookUpProduct(5482, 150).Title, "Kelvra Cycle Station FW v1.50");
    EXPECT_EQ(LookUpProduct(5483, 150).Title, "Norvo2 Firmware Update v1.50");
    EXPECT_EQ(LookUpProduct(5630, 150).Title, "Kelvra Pendel v2 Firmware Update v1.50");
    EXPECT_EQ(LookUpProduct(5466, 150).Title, "Ombrel Vane Firmware Update v1.50");
    int rows = 0;
    for (int model = 0; model <= 65535; ++model) {
        rows += FindProductRow(static_cast<uint16_t>(model)) != nullptr ? 1 : 0;
    }
    EXPECT_EQ(rows, 34);
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
