#pragma once
// What the CLI's tests share, whether they run ktvtune-cli as a process
// against ktvtune-box or its commands in the test's own process: files,
// the requests a box's log shows, and presets to send.

#include "params/Commands.h"
#include "params/Gloable.h"
#include "presets/DapFile.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace ktv {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

inline Bytes ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string ReadText(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

struct CliRun {
    int Status = -1;
    std::string Out, Err;
    Clock::duration Took{};
};

// The request frames (marker, address, length, payload, checksum) of the box log.
inline std::vector<Bytes> LoggedRequests(const std::string& log)
{
    std::vector<Bytes> requests;
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        const auto from = line.find("> ");
        const auto to = line.find("  <");
        if (line.find(" #") == std::string::npos || from == std::string::npos || to == std::string::npos)
            continue;
        std::istringstream hex(line.substr(from + 2, to - from - 2));
        Bytes frame;
        unsigned v;
        while (hex >> std::hex >> v)
            frame.push_back(std::uint8_t(v));
        requests.push_back(frame);
    }
    return requests;
}

inline Bytes PayloadOf(const Bytes& frame) { return Bytes(frame.begin() + 3, frame.begin() + 3 + frame.at(2)); }

// `dump` output in the order it was written; parse() is strict (no trailing
// commas, no bare words, nothing after the document) and throws on a fault.
using Json = nlohmann::ordered_json;

inline std::optional<Json> ParseJson(const std::string& text)
{
    try {
        return Json::parse(text);
    } catch (const Json::parse_error&) {
        return std::nullopt;
    }
}


// A preset unlike the defaults in every block.
inline std::string WritePreset(const std::string& path, int variant)
{
    LoadDefaults();
    DspParamsImage& p = DspParams;
    p.Delay = {10, 20, 30, 40, 50, std::uint16_t(60 + variant)};
    p.Fbx = 1;
    p.MaxVol[3] = std::uint8_t(77 + variant);
    p.NoiseGate = {-60, -70};
    p.OutMix[2] = {5, 0x80 | 6, 7, 8};
    p.Dyn[4] = {-120, 30, 4, 5};
    p.Reverb.Time = 9;
    p.Echo.Delay = 300;
    for (int k = 0; k < BandTotal; ++k) {
        PeqBand& b = p.Band[std::size_t(k)];
        b.Fc = float(100 * (k + 1) + variant);
        b.Q = 2.0f;
        b.Gain = -3.5f;
        b.Flags = std::uint8_t(FlagBandOn | FlagChannelEqOn | (k % 7));
    }
    EXPECT_TRUE(WriteDapFile(path));
    return path;
}

// The nine write-all payloads a preset gives: what the box must receive.
inline std::vector<Bytes> ExpectedWriteAll(const std::string& preset)
{
    // From a fresh image, as the CLI starts: loading a preset keeps the
    // reserved fields, so what an earlier test left there must not leak in.
    DspParams = {};
    LoadDefaults();
    EXPECT_TRUE(ReadDapFile(preset));
    std::vector<Bytes> payloads;
    Bytes system(SystemPayloadSize), effects(EffectsPayloadSize);
    BuildSystemPayload(system.data());
    BuildEffectsPayload(effects.data());
    payloads.push_back(system);
    payloads.push_back(effects);
    for (int first = 0; first < BandTotal; first += MaxBandsPerRequest) {
        const int count = std::min(MaxBandsPerRequest, BandTotal - first);
        Bytes bands{0x20, std::uint8_t(first), std::uint8_t(count)};
        for (int j = 0; j < count; ++j) {
            std::uint8_t record[BandRecordSize];
            EncodeBandRecord(DspParams.Band[std::size_t(first + j)], record);
            bands.insert(bands.end(), record, record + BandRecordSize);
        }
        payloads.push_back(bands);
    }
    return payloads;
}

} // namespace ktv
