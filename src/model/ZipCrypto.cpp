#include "model/ZipCrypto.h"

#include <random>
#include <zlib.h>

namespace vesk {

namespace {

    const z_crc_t* crcTable()
    {
        static const z_crc_t* table = get_crc_table();
        return table;
    }

    std::uint32_t crcByte(std::uint32_t crc, std::uint8_t byte)
    {
        return crcTable()[(crc ^ byte) & 0xff] ^ (crc >> 8);
    }

}

ZipCrypto::ZipCrypto(std::string_view password)
    : m_keys { 0x12345678u, 0x23456789u, 0x34567890u }
{
    for (char c : password)
        updateKeys(static_cast<std::uint8_t>(c));
}

std::uint8_t ZipCrypto::keyStreamByte() const
{
    std::uint32_t temp = (m_keys[2] | 2) & 0xffff;
    return static_cast<std::uint8_t>((temp * (temp ^ 1)) >> 8);
}

void ZipCrypto::updateKeys(std::uint8_t plain)
{
    m_keys[0] = crcByte(m_keys[0], plain);
    m_keys[1] = (m_keys[1] + (m_keys[0] & 0xff)) * 134775813u + 1;
    m_keys[2] = crcByte(m_keys[2], static_cast<std::uint8_t>(m_keys[1] >> 24));
}

void ZipCrypto::encrypt(std::uint8_t* data, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i) {
        std::uint8_t plain = data[i];
        data[i] = plain ^ keyStreamByte();
        updateKeys(plain);
    }
}

void ZipCrypto::decrypt(std::uint8_t* data, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i) {
        std::uint8_t plain = data[i] ^ keyStreamByte();
        data[i] = plain;
        updateKeys(plain);
    }
}

void ZipCrypto::makeHeader(std::array<std::uint8_t, headerSize>& header, std::uint8_t checkByte)
{
    std::random_device device;
    for (std::size_t i = 0; i + 1 < headerSize; ++i)
        header[i] = static_cast<std::uint8_t>(device());
    header[headerSize - 1] = checkByte;
    encrypt(header.data(), header.size());
}

bool ZipCrypto::readHeader(std::array<std::uint8_t, headerSize>& header, std::uint8_t checkByte)
{
    decrypt(header.data(), header.size());
    return header[headerSize - 1] == checkByte;
}

std::uint8_t ZipCrypto::checkByte(std::uint32_t flags, std::uint32_t crc, std::uint32_t dosDate)
{
    if (flags & 0x8)
        return static_cast<std::uint8_t>((dosDate >> 8) & 0xff);
    return static_cast<std::uint8_t>(crc >> 24);
}

}
