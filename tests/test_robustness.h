// Shared by the robustness suites: small songs made to order.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

// The bytes of a small FT2 song of two patterns of `rows` rows (speed 3, tempo 150: a row
// lasts 0.05 s) played in the order `orders`, looping to `restart`, with a W command on
// channel 2 for every (pattern, row, value) of `sync` and a looped square wave on every first
// row.
std::vector<std::uint8_t> songWith(const std::vector<std::uint8_t>& orders, int restart,
                                   const std::vector<std::array<int, 3>>& sync, int rows);
