#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vesk {

// The traditional PKWARE stream cipher of ZIP entries: three 32-bit keys
// driven by the CRC-32 table, and a 12-byte header whose last byte checks
// the password.
class ZipCrypto {
public:
    static constexpr std::size_t headerSize = 12;

    explicit ZipCrypto(std::string_view password);

    void encrypt(std::uint8_t* data, std::size_t length);
    void decrypt(std::uint8_t* data, std::size_t length);

    // Encrypts a fresh header in place: eleven random bytes, then checkByte.
    void makeHeader(std::array<std::uint8_t, headerSize>& header, std::uint8_t checkByte);
    // Decrypts the header in place; true when its last byte equals checkByte.
    bool readHeader(std::array<std::uint8_t, headerSize>& header, std::uint8_t checkByte);

    // The byte the header is checked against: the CRC's high byte, or the
    // DOS time's high byte when the sizes follow the data (flag bit 3).
    static std::uint8_t checkByte(std::uint32_t flags, std::uint32_t crc, std::uint32_t dosDate);

private:
    std::uint8_t keyStreamByte() const;
    void updateKeys(std::uint8_t plain);

    std::uint32_t m_keys[3];
};

}
