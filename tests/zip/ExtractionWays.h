// The two ways a deflated entry reaches its file: inflated whole from a view
// of the archive into a view of the file, or streamed through the entry
// decoder (entries outside its limits). Tests that must hold for both run
// both.
#pragma once

#include <cstdint>

#include "zip/WholeInflater.h"

struct ExtractionWay {
    const char* name;
    WholeInflater::Limits limits;
};

// Inflated whole, every deflated entry up to the largest is.
inline constexpr ExtractionWay kExtractionWays[] = {
    {"streamed", {0, 0}},
    {"inflated whole", {1, WholeInflater::kDefaultLimits.largest}},
};

// The limits for one scope, the ones before restored after it.
class InflaterLimitsScope {
public:
    explicit InflaterLimitsScope(WholeInflater::Limits limits) : saved_(WholeInflater::limits()) {
        WholeInflater::setLimits(limits);
    }
    ~InflaterLimitsScope() { WholeInflater::setLimits(saved_); }
    InflaterLimitsScope(const InflaterLimitsScope&) = delete;
    InflaterLimitsScope& operator=(const InflaterLimitsScope&) = delete;

private:
    WholeInflater::Limits saved_;
};
