// A small program that embeds the stored image record the way the
// programmer does (accessors, pass phrase, deciphering), so that the binary
// scan has a real program to look at until the programmer itself exists.
#include "image/encryptedstream.h"
#include "image/storedimage.h"

#include <cstdio>

int main()
{
    std::printf("name: %s\nunit type: %u\nvalid: %s\n", GetImageName().c_str(), UnitType(),
                IsImageValid() ? "yes" : "no");
    TTwoFishEncryptedMemoryStream stream;
    stream.SetMode(2);
    LoadImage(stream);
    std::string phrase = GetPassPhrase();
    stream.Decrypt(phrase.data(), static_cast<uint32_t>(phrase.size()));
    SecureZero(phrase.data(), phrase.size());
    std::printf("deciphered: %lld bytes\n", static_cast<long long>(stream.Size()));
    return 0;
}
