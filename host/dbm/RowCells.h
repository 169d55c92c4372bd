// Typed access to the cells of a record set's row: each at the offset its column has in the schema.
// Internal to OvDBM15.
#pragma once

#include "host/dbm/TextCell.h"

#include <cstddef>
#include <new>
#include <string_view>

namespace orvo::dbm {

inline TextCell& textCell(std::byte* row, std::size_t offset) {
    return *std::launder(reinterpret_cast<TextCell*>(row + offset));
}
inline std::string_view textCell(const std::byte* row, std::size_t offset) {
    return std::launder(reinterpret_cast<const TextCell*>(row + offset))->View();
}
inline long& longCell(std::byte* row, std::size_t offset) {
    return *std::launder(reinterpret_cast<long*>(row + offset));
}
inline long longCell(const std::byte* row, std::size_t offset) {
    return *std::launder(reinterpret_cast<const long*>(row + offset));
}
inline double& realCell(std::byte* row, std::size_t offset) {
    return *std::launder(reinterpret_cast<double*>(row + offset));
}
inline double realCell(const std::byte* row, std::size_t offset) {
    return *std::launder(reinterpret_cast<const double*>(row + offset));
}

} // namespace orvo::dbm
