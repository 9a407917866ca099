#include "kyr/stages/filters/kernelFilter.h"

#include <utility>

#include "kyr/platform.h"
#include "kyr/status.h"
#include "optimized/filterKernels.h"

template <class Kernel>
KernelFilter<Kernel>::KernelFilter() : input(*this) {
    this->setName(kernel.name());
    this->registerInput(&input);
}

template <class Kernel>
int KernelFilter<Kernel>::action() {
    auto in = input.value();
    if (!in) {
        KYR_LOG_ERROR("%s: Input image is null", this->getName());
        return kyr::status::INVALID_ARGUMENT;
    }
    if (!enabled) {
        this->buffer_out = std::move(in);
        return StageBase::OK;
    }
    auto out = Image<Type>::createNewBuffer(in->getWidth(), in->getHeight());
    if (!out) {
        return kyr::status::NO_MEMORY;
    }
    kyr::kernels::filterImage(kernel, in->getData(), out->getData(), in->getWidth(),
                              in->getHeight());
    this->buffer_out = std::move(out);
    return StageBase::OK;
}

#define KYR_INSTANTIATE_FILTER(NAME, ...) template class KernelFilter<kyr::kernels::__VA_ARGS__>;
KYR_FILTER_CATALOGUE(KYR_INSTANTIATE_FILTER)
#undef KYR_INSTANTIATE_FILTER
