// Removes the phase-dependent phase error with a table indexed by the
// measured phase itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "kyr/image.h"
#include "kyr/phaseType.h"
#include "kyr/stage.h"

// Entry k of an N-entry table covers the raw phases from k * 65536 / N up to
// (k + 1) * 65536 / N; out = p - table[(p * N) >> 16] modulo 65536. Without a
// table (or with one of 0 entries), or when disabled, the input image itself
// is published.
class PhaseErrorLUTCompensation : public Stage<Image<PhaseType<uint16_t>>> {
public:
    explicit PhaseErrorLUTCompensation(uint32_t modulationFrequencyHz);

    // Fetches the table for `hz` from the calibration registry; warns when
    // there is none.
    void setModulationFrequency(uint32_t hz);

    void setCompensation(bool enable) { enabled = enable; }
    bool isCompensationActive() const { return enabled; }

    // Takes over a table of `size` entries.
    void setLut(std::unique_ptr<PhaseType<uint16_t>[]> table, size_t size);

    // 0; kyr::status::INVALID_ARGUMENT without an input image,
    // kyr::status::NO_MEMORY when the output cannot be allocated.
    int action() override;

    Input<Image<PhaseType<uint16_t>>> input;

private:
    bool hasTable() const { return lut != nullptr && lutSize != 0; }

    std::unique_ptr<PhaseType<uint16_t>[]> lut;
    size_t lutSize = 0;
    bool enabled = true;
    // The table widened for the vector lookup (null: per-pixel lookup).
    std::unique_ptr<uint32_t[]> lutWide;
};
