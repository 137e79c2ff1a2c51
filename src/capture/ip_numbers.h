#pragma once
#include <cstddef>
#include <cstdint>

namespace tessel {

// Numbers of the protocols that frames are read and made with.
inline constexpr std::uint16_t kEtherTypeIPv4 = 0x0800, kEtherTypeIPv6 = 0x86DD;
inline constexpr std::size_t kEthernetLength = 14;  // an Ethernet header without VLAN tags
inline constexpr std::uint8_t kProtoIcmp = 1;
inline constexpr std::uint8_t kProtoTcp = 6;
inline constexpr std::uint8_t kProtoUdp = 17;
inline constexpr std::uint8_t kProtoIcmpv6 = 58;
inline constexpr std::uint8_t kTcpFin = 0x01;
inline constexpr std::uint8_t kTcpSyn = 0x02;
inline constexpr std::uint8_t kTcpRst = 0x04;
inline constexpr std::uint8_t kTcpPsh = 0x08;
inline constexpr std::uint8_t kTcpAck = 0x10;

}  // namespace tessel
