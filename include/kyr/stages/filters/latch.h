// Holds the pixels that a mask flags at the value they had before.
#pragma once

#include <cstdint>
#include <memory>

#include "kyr/image.h"
#include "kyr/stage.h"

// out[i] = the latch's previous output at i where mask[i] is non-zero, else
// input[i]. A pixel that stays flagged thus keeps the value it had before it
// was first flagged. The first frame after enabling (or after a change of
// image size) passes the input image itself; disabled, every frame does.
template <typename T>
class Latch : public Stage<Image<T>> {
public:
    explicit Latch(bool enabled);

    // Switching off also forgets the held image.
    void setEnabled(bool enable);
    bool getEnabled() const { return enabled; }

    // 0 with the result published. SIZE_MISMATCH when the mask differs in
    // size from the input, INVALID_ARGUMENT for a missing image, NO_MEMORY
    // when the output cannot be allocated; nothing published then.
    int action() override;

    Input<Image<T>> input;
    Input<Image<uint16_t>> mask;

private:
    bool enabled;
    std::shared_ptr<Image<T>> state;
};

extern template class Latch<uint16_t>;
extern template class Latch<int16_t>;
