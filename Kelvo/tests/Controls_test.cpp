#include "Controls.h"

#include <gtest/gtest.h>

#include <string>

namespace {

BerElement* NoElement(int) {
    return nullptr;
}
int PrintFails(BerElement*, const char*, ...) {
    return -1;
}
int FlattenFails(BerElement*, berval** out) {
    *out = nullptr;
    return -1;
}

TEST(Controls, BerEncodingsOfControlValues) {
    const struct {
        const char* name;
        std::optional<Bytes> encoded;
        Bytes expected;
    } cases[] = {
        {"zero", BerInt(0), {0x30, 0x03, 0x02, 0x01, 0x00}},
        {"one", BerInt(1), {0x30, 0x03, 0x02, 0x01, 0x01}},
        {"all descriptor parts", BerInt(15), {0x30, 0x03, 0x02, 0x01, 0x0F}},
        {"two-byte integer", BerInt(128), {0x30, 0x04, 0x02, 0x02, 0x00, 0x80}},
        {"negative", BerInt(-1), {0x30, 0x03, 0x02, 0x01, 0xFF}},
        {"name",
         BerIntOctets(0, {'g', 0, 'c', 0}),
         {0x30, 0x09, 0x02, 0x01, 0x00, 0x04, 0x04, 'g', 0, 'c', 0}},
        {"empty name", BerIntOctets(0, {}), {0x30, 0x05, 0x02, 0x01, 0x00, 0x04, 0x00}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(c.encoded) << c.name;
        EXPECT_EQ(*c.encoded, c.expected) << c.name;
    }
}

// Each liblber step that fails leaves the encoders with nothing, never with
// a short or empty value that would go out as the control's value.
TEST(Controls, LiblberFailuresGiveNoValue) {
    const struct {
        const char* name;
        BerCalls calls;
    } cases[] = {
        {"alloc", {NoElement, ber_printf, ber_flatten}},
        {"printf", {ber_alloc_t, PrintFails, ber_flatten}},
        {"flatten", {ber_alloc_t, ber_printf, FlattenFails}},
    };
    for (const auto& c : cases) {
        {
            ScopedBerCalls failing(c.calls);
            EXPECT_FALSE(BerInt(4)) << c.name;
            EXPECT_FALSE(BerIntOctets(0, {'x', 0})) << c.name;
        }
        // The real calls are back.
        EXPECT_TRUE(BerInt(4)) << c.name;
    }
}

TEST(Controls, ListKeepsValuesAndOrder) {
    ControlList list;
    EXPECT_EQ(list.Array(), nullptr);
    const Bytes value{0x30, 0x03, 0x02, 0x01, 0x04};
    ASSERT_TRUE(list.Add(oid::kSdFlags, value, "Control: LDAP_SERVER_SD_FLAGS_OID"));
    ASSERT_TRUE(list.Add(oid::kShowDeleted, {}, "Control: LDAP_SERVER_SHOW_DELETED_OID"));
    ASSERT_EQ(list.Count(), 2u);
    LDAPControl** array = list.Array();
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(std::string(array[0]->ldctl_oid), oid::kSdFlags);
    EXPECT_EQ(Bytes(array[0]->ldctl_value.bv_val,
                    array[0]->ldctl_value.bv_val + array[0]->ldctl_value.bv_len),
              value);
    EXPECT_EQ(array[1]->ldctl_value.bv_len, 0u);
    EXPECT_EQ(array[2], nullptr);
    EXPECT_TRUE(list.Has(oid::kShowDeleted));
    EXPECT_FALSE(list.Has(oid::kTreeDelete));
    for (std::size_t i = list.Count(); i < kMaxControls; ++i)
        EXPECT_TRUE(list.Add(oid::kTreeDelete, {}, "x"));
    EXPECT_FALSE(list.Add(oid::kTreeDelete, {}, "one too many"));
}

} // namespace
