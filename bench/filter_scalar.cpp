// Built with -fno-tree-vectorize: one pixel per step.
#include "filter_scalar.h"

#include "core/stages/filters/kernelWindow.h"
#include "optimized/filterKernels.h"

namespace scalarref {

using namespace kyr::kernels;

template <class Kernel>
std::shared_ptr<Image<typename Kernel::Type>> kernelFilter(Kernel& kernel,
                                                           const Image<typename Kernel::Type>& in) {
    auto out = Image<typename Kernel::Type>::createNewBuffer(in.getWidth(), in.getHeight());
    filterByWindows(kernel, in.getData(), out->getData(), in.getWidth(), in.getHeight());
    return out;
}

#define KYR_INSTANTIATE_REFERENCE(NAME, ...)                                      \
    template std::shared_ptr<Image<__VA_ARGS__::Type>> kernelFilter<__VA_ARGS__>( \
        __VA_ARGS__&, const Image<__VA_ARGS__::Type>&);
KYR_FILTER_CATALOGUE(KYR_INSTANTIATE_REFERENCE)
#undef KYR_INSTANTIATE_REFERENCE

}  // namespace scalarref
