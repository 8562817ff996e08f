// Linked into a copy of a program so that it knows the tests' six-channel
// kind from its start, as it would a kind of its own table.
#include "six_channel_kind.h"

namespace {

const bool kKnown = (testing_support::SixChannelKind(), true);

}  // namespace
