#include "attempt.h"

#include <iterator>

namespace record {

namespace {

template <typename E, std::size_t N>
std::optional<E> Find(const char* const (&texts)[N], std::string_view text) {
    for (std::size_t i = 0; i < N; ++i) {
        if (text == texts[i]) return static_cast<E>(i);
    }
    return std::nullopt;
}

// In the order of the enums.
constexpr const char* kResults[] = {"running",     "pass",    "fail",
                                    "interrupted", "skipped", "not-recorded"};
constexpr const char* kOperations[] = {"info", "write", "write-unverified", "check", "test"};
constexpr const char* kSteps[] = {"",     "identity", "write", "check", "serial",
                                  "port", "record",   "test",  "plan"};
static_assert(std::size(kResults) == static_cast<std::size_t>(Result::NotRecorded) + 1);
static_assert(std::size(kOperations) == static_cast<std::size_t>(Operation::Test) + 1);
static_assert(std::size(kSteps) == static_cast<std::size_t>(Step::Plan) + 1);

}  // namespace

const char* ToText(Result result) {
    return kResults[static_cast<std::size_t>(result)];
}

std::optional<Result> ResultFromText(std::string_view text) {
    return Find<Result>(kResults, text);
}

const char* ToText(Operation operation) {
    return kOperations[static_cast<std::size_t>(operation)];
}

std::optional<Operation> OperationFromText(std::string_view text) {
    return Find<Operation>(kOperations, text);
}

const char* ToText(Step step) {
    return kSteps[static_cast<std::size_t>(step)];
}

std::optional<Step> StepFromText(std::string_view text) {
    return Find<Step>(kSteps, text);
}

std::string ChannelAt(const std::vector<std::string>& channels, std::size_t index) {
    return index < channels.size() ? channels[index] : std::string();
}

std::string MoreChannels(const std::vector<std::string>& channels) {
    std::string more;
    for (std::size_t i = kChannelColumns; i < channels.size(); ++i) {
        if (i > kChannelColumns) more += '|';
        more += channels[i];
    }
    return more;
}

std::vector<std::string> JoinChannels(std::vector<std::string> four, std::string_view more) {
    if (more.empty()) return four;
    four.resize(kChannelColumns);
    for (;;) {
        const std::size_t bar = more.find('|');
        four.emplace_back(more.substr(0, bar));
        if (bar == std::string_view::npos) break;
        more.remove_prefix(bar + 1);
    }
    return four;
}

}  // namespace record
