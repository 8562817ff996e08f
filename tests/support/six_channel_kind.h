#pragma once

#include "kinds.h"

namespace testing_support {

// A kind that exists only in the tests: a receiver's synthesizer and
// replies, with six channels, its version letter 'S', named "rx6". The
// first call adds it to module::Kinds().
const module::Kind& SixChannelKind();

}  // namespace testing_support
