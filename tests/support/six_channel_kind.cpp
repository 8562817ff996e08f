#include "six_channel_kind.h"

namespace testing_support {

const module::Kind& SixChannelKind() {
    static const module::Kind* kind = [] {
        module::Kind k = module::Receiver();
        k.letter = 'S';
        k.name = "rx6";
        k.description = "six-channel receiver";
        k.channelCount = 6;
        module::AddKind(k);
        return module::KindByName("rx6");
    }();
    return *kind;
}

}  // namespace testing_support
