// CNG's verdicts through VerifyReplySignature on the P-256/SHA-256 examples of RFC 6979 (A.2.5) and on
// signatures, messages and keys changed from them.
#include "update/signature_verifier.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "base/lower_hex.h"

namespace isetup {
namespace {

template <std::size_t N>
std::array<std::uint8_t, N> Hex(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const auto bytes = ParseLowerHex(lower, N);
  EXPECT_TRUE(bytes.has_value()) << text;
  std::array<std::uint8_t, N> out{};
  if (bytes) std::copy(bytes->begin(), bytes->end(), out.begin());
  return out;
}

const UpdateKey kRfcKey = Hex<64>(
    "60FED4BA255A9D31C961EB74C6356D68C049B8923B61FA6CE669622E60F29FB6"
    "7903FE1008B8BC99A41AE9E95628BC64F2F1B20C2D7E9F5177A3C294D4462299");
const ReplySignature kSample = Hex<64>(
    "EFD48B2AACB6A8FD1140DD9CD45E81D69D2C877B56AAF991C34D0EA84EAF3716"
    "F7CB1C942D657C41D436C7A1B6E29F65F3E900DBB9AFF4064DC4AB2F843ACDA8");
const ReplySignature kTest = Hex<64>(
    "F1ABB023518351CD71D881567B1EA663ED3EFCF6C5132B354F28D3B0B7D38367"
    "019F4113742A2B14BD25926B49C649155F267E60D3814B4C0CC84250E46F0083");
// The base point G: a valid key, but not the one that signed.
const UpdateKey kGenerator = Hex<64>(
    "6B17D1F2E12C4247F8BCE6E563A440F277037D812DEB33A0F4A13945D898C296"
    "4FE342E2FE1A7F9B8EE7EB4A7C0F9E162BCE33576B315ECECBB6406837BF51F5");
const std::string_view kOrder = "FFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551";

template <std::size_t N>
std::array<std::uint8_t, N> Flipped(std::array<std::uint8_t, N> bytes, std::size_t at) {
  bytes[at] ^= 0x01;
  return bytes;
}

TEST(VerifyReplySignature, AcceptsTheExamplesAndNothingChangedFromThem) {
  ReplySignature zeroS = kSample;
  std::fill(zeroS.begin() + 32, zeroS.end(), 0);
  const ReplySignature orderAsBoth = Hex<64>(std::string(kOrder) + std::string(kOrder));
  const struct {
    const char* name;
    UpdateKey key;
    std::string_view message;
    ReplySignature signature;
    bool valid;
  } cases[] = {
      {"Sample", kRfcKey, "sample", kSample, true},
      {"Test", kRfcKey, "test", kTest, true},
      {"SignatureOfAnotherMessage", kRfcKey, "sample", kTest, false},
      {"MessageChangedInOneByte", kRfcKey, "samplf", kSample, false},
      {"RChanged", kRfcKey, "sample", Flipped(kSample, 5), false},
      {"SChanged", kRfcKey, "sample", Flipped(kSample, 63), false},
      {"SZero", kRfcKey, "sample", zeroS, false},
      {"RAndSTheGroupOrder", kRfcKey, "sample", orderAsBoth, false},
      {"AnotherKey", kGenerator, "sample", kSample, false},
      {"KeyOffTheCurve", Flipped(kRfcKey, 63), "sample", kSample, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(VerifyReplySignature(c.key, c.message, c.signature), c.valid) << c.name;
  }
}

}  // namespace
}  // namespace isetup
