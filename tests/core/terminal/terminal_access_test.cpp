#include "core/terminal/terminal_access.h"

#include <gtest/gtest.h>

#include "core/support/error.h"
#include "core/terminal/controller_prod.h"
#include "support/scripted_config.h"
#include "support/scripted_downloader.h"

namespace qiv_start::core {
namespace {

std::string parse_error(const std::string& text) {
    try {
        parse_dotted_quad(text);
    } catch (const TError& failure) {
        return failure.what();
    }
    return "no error";
}

TEST(DottedQuad, PlainDecimalPartsWithBlanksAroundThem) {
    EXPECT_EQ(parse_dotted_quad("192.168.7.9"), 0xC0A80709u);
    EXPECT_EQ(parse_dotted_quad(" 10 .0. 0 .\t1 "), 0x0A000001u);
    EXPECT_EQ(parse_dotted_quad("255.255.255.255"), 0xFFFFFFFFu);
    // Leading zeros are decimal, not octal.
    EXPECT_EQ(parse_dotted_quad("010.0.0.08"), 0x0A000008u);
}

TEST(DottedQuad, AnythingElseNamesTheWholeText) {
    for (const std::string text :
         {"10.0.0", "10.0.0.256", "1.2.3.4.5", "", "1..2.3", "a.b.c.d", "0x1.2.3.4", "+1.2.3.4",
          "-1.2.3.4", "1 2.3.4.5", "99999999999999999999.1.1.1"}) {
        EXPECT_EQ(parse_error(text), "The string " + text + " does not translate into a valid IP.");
    }
}

TEST(NetworkCalculator, MaskMustBeARunOfLeadingOnes) {
    TNetworkCalculator calculator;
    for (const std::string mask : {"255.255.255.255", "255.255.255.0", "255.128.0.0", "0.0.0.0"}) {
        EXPECT_NO_THROW(calculator.set_mask(mask)) << mask;
    }
    for (const std::string mask : {"255.0.255.0", "0.0.0.255", "255.255.255.253", "254.255.0.0"}) {
        EXPECT_THROW(calculator.set_mask(mask), TError) << mask;
    }
    try {
        calculator.set_mask("255.0.255.0");
    } catch (const TError& failure) {
        EXPECT_STREQ(failure.what(), "Invalid network mask.");
    }
}

class TerminalAccess : public ::testing::Test {
  protected:
    TerminalAccess() {
        auto exe = std::make_shared<test::TScriptedFile>("t.sh", "t", "");
        config_->terminals = {std::make_shared<test::TScriptedTerminal>("OTWARTY", true, exe),
                              std::make_shared<test::TScriptedTerminal>("ZAMKNIETY", false, exe)};
    }

    std::vector<std::string> accessible(const std::vector<std::string>& addresses) {
        TWorkstation workstation{[addresses] { return addresses; },
                                 [](const std::string&, const std::string&) {}};
        TControllerProd controller(std::make_shared<test::TScriptedDownloader>(), config_,
                                   workstation);
        std::vector<std::string> codes;
        for (const auto& terminal : controller.get_accessible_terminals()) {
            codes.push_back(terminal->get_id_code());
        }
        return codes;
    }

    void restrict_to(const std::string& mask, const std::string& address) {
        config_->networks.push_back({mask, address});
    }

    const std::vector<std::string> all_{"OTWARTY", "ZAMKNIETY"};
    const std::vector<std::string> open_only_{"OTWARTY"};
    std::shared_ptr<test::TScriptedConfig> config_ = std::make_shared<test::TScriptedConfig>();
};

TEST_F(TerminalAccess, WithoutRestrictedNetworksOnlyTerminalsOpenToAll) {
    EXPECT_EQ(accessible({"10.0.0.1"}), open_only_);
}

TEST_F(TerminalAccess, MaskOfZerosTakesInEveryKnownAddressButNeverTheUnknownOne) {
    restrict_to("0.0.0.0", "1.2.3.4");
    EXPECT_EQ(accessible({"172.16.5.4"}), all_);
    EXPECT_EQ(accessible({}), open_only_);
}

TEST_F(TerminalAccess, FullMaskMatchesTheExactAddressOnly) {
    restrict_to("255.255.255.255", "192.168.7.9");
    EXPECT_EQ(accessible({"192.168.7.9"}), all_);
    EXPECT_EQ(accessible({"192.168.7.8"}), open_only_);
}

TEST_F(TerminalAccess, OnlyTheMaskedBitsOfTheNetworkAddressCount) {
    restrict_to("255.255.0.0", "192.168.7.9");
    EXPECT_EQ(accessible({"192.168.200.1"}), all_);
    EXPECT_EQ(accessible({"192.169.7.9"}), open_only_);
}

TEST_F(TerminalAccess, OneOfSeveralAddressesInOneOfSeveralNetworksIsEnough) {
    restrict_to("255.0.0.0", "10.0.0.0");
    restrict_to("255.255.255.0", "172.16.1.0");
    EXPECT_EQ(accessible({"192.168.1.5", "172.16.1.77", "127.0.0.1"}), all_);
    EXPECT_EQ(accessible({"192.168.1.5", "172.16.2.77"}), open_only_);
}

TEST_F(TerminalAccess, InvalidNetworkFailsEvenAfterAMatchingOne) {
    restrict_to("0.0.0.0", "0.0.0.0");
    restrict_to("255.0.255.0", "10.0.0.0");
    EXPECT_THROW(accessible({"10.0.0.1"}), TError);

    config_->networks = {{"0.0.0.0", "0.0.0.0"}, {"255.0.0.0", "10.0.0"}};
    try {
        accessible({"10.0.0.1"});
        ADD_FAILURE() << "no error";
    } catch (const TError& failure) {
        EXPECT_STREQ(failure.what(), "The string 10.0.0 does not translate into a valid IP.");
    }
}

}  // namespace
}  // namespace qiv_start::core
