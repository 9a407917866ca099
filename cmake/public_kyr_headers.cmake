# Headers of the processing core that the public headers include, relative to
# include/. Installed with the public headers.
set(OZR_PUBLIC_KYR_HEADERS
  kyr/platform.h
  kyr/calibration/calibrationDataRegistry.h
  kyr/constants.h
  kyr/image.h
  kyr/phaseType.h
  kyr/status.h
  kyr/video_buffer.h
  kyr/video_buffer_allocator.h)
