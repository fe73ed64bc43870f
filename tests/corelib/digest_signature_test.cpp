// SHA-256, Ed25519 and hexadecimal text: nettle's results through our wrappers, checked against
// published test vectors so that a swapped argument or a wrong length cannot pass.
#include "qv/ed25519.h"
#include "qv/hex.h"
#include "qv/md5.h"
#include "qv/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace {

template <typename Array>
Array FromHex(const std::string& text) {
  Array a{};
  EXPECT_TRUE(qv::from_hex(text, a.data(), a.size())) << text;
  return a;
}

}  // namespace

TEST(Digest, Sha256KnownAnswersWholeAndInPieces) {
  EXPECT_EQ(qv::to_hex(qv::sha256("abc").data(), 32),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(qv::to_hex(qv::sha256("").data(), 32),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  const std::string million(1000000, 'a');
  qv::sha256_hasher h;
  for (std::size_t at = 0; at < million.size(); at += 4093)
    h.update(million.data() + at, std::min<std::size_t>(4093, million.size() - at));
  const qv::sha256_bytes pieces = h.digest();
  EXPECT_EQ(qv::to_hex(pieces.data(), 32),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  EXPECT_TRUE(qv::sha256_equal(pieces, qv::sha256(million)));
  h.update("abc", 3);  // the hasher started over
  EXPECT_TRUE(qv::sha256_equal(h.digest(), qv::sha256("abc")));
  qv::sha256_bytes other = pieces;
  other[31] ^= 1;
  EXPECT_FALSE(qv::sha256_equal(pieces, other));
  EXPECT_EQ(qv::md5_hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(Digest, HexText) {
  std::uint8_t b[2] = {};
  EXPECT_TRUE(qv::from_hex("aB0f", b, 2));
  EXPECT_EQ(qv::to_hex(b, 2), "ab0f");
  for (const char* bad : {"ab0", "ab0f0", "ag0f", " ab0f", "", "ab 0f"})
    EXPECT_FALSE(qv::from_hex(bad, b, 2)) << bad;
}

// RFC 8032, section 7.1, tests 1 and 2.
TEST(Signature, Ed25519KnownAnswersAndRefusals) {
  struct Vector {
    const char* secret;
    const char* pub;
    std::string message;
    const char* sig;
  };
  const Vector vectors[] = {
      {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
       "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
       "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e3970"
       "1cf9b46bd25bf5f0595bbe24655141438e7a100b"},
      {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
       "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "\x72",
       "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613"
       "d0f11d8c387b2eaeb4302aeeb00d291612bb0c00"},
  };
  for (const auto& v : vectors) {
    const auto secret = FromHex<qv::ed25519::private_key>(v.secret);
    const auto pub = FromHex<qv::ed25519::public_key>(v.pub);
    const auto expected = FromHex<qv::ed25519::signature>(v.sig);
    EXPECT_EQ(qv::ed25519::public_key_of(secret), pub);
    const auto sig = qv::ed25519::sign(secret, v.message.data(), v.message.size());
    EXPECT_EQ(sig, expected);
    EXPECT_TRUE(qv::ed25519::verify(pub, v.message.data(), v.message.size(), sig));

    const std::string longer = v.message + "x";
    EXPECT_FALSE(qv::ed25519::verify(pub, longer.data(), longer.size(), sig));
    auto bad_sig = sig;
    bad_sig[0] ^= 0x01;
    EXPECT_FALSE(qv::ed25519::verify(pub, v.message.data(), v.message.size(), bad_sig));
    auto bad_key = pub;
    bad_key[5] ^= 0x80;
    EXPECT_FALSE(qv::ed25519::verify(bad_key, v.message.data(), v.message.size(), sig));
  }
  // One vector's signature does not verify under the other's key.
  const auto pub1 = FromHex<qv::ed25519::public_key>(vectors[0].pub);
  const auto sig2 = FromHex<qv::ed25519::signature>(vectors[1].sig);
  EXPECT_FALSE(qv::ed25519::verify(pub1, "\x72", 1, sig2));
}
