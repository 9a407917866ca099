// Propagation order and wiring of sources, sinks and stages.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "kyr/image.h"
#include "kyr/sink.h"
#include "kyr/source.h"
#include "kyr/stage.h"
#include "support/log_capture.h"

namespace {

using Img = Image<uint16_t>;
using Trace = std::vector<std::string>;

std::shared_ptr<Img> makeImage(uint16_t value) {
    auto img = Img::createNewBuffer(1, 1);
    img->getData()[0] = value;
    return img;
}

// A stage with N inputs that records when it runs and publishes the sum of
// its inputs' first pixels. It can be told to return a fixed code instead.
class SumStage : public Stage<Img> {
public:
    SumStage(const char* name, Trace& trace, size_t nInputs) : Stage<Img>(name), trace(trace) {
        inputs.resize(nInputs);
        for (auto& in : inputs) {
            in = std::make_unique<Input<Img>>();
            in->setOwner(*this);
        }
    }

    int action() override {
        trace.push_back(std::string("run ") + getName());
        uint16_t sum = 0;
        for (auto& in : inputs) {
            auto img = in->value();
            seen.push_back(img);
            if (img) {  // a direct run() may find an input already consumed
                sum = static_cast<uint16_t>(sum + img->getData()[0]);
            }
        }
        if (result != OK) {
            return result;
        }
        buffer_out = makeImage(sum);
        return OK;
    }

    Input<Img>& in(size_t i) { return *inputs[i]; }

    Trace& trace;
    std::vector<std::unique_ptr<Input<Img>>> inputs;
    std::vector<std::shared_ptr<Img>> seen;
    int result = OK;
};

// A plain sink that records arrivals and can refuse them.
class RecordingSink : public Sink<Img> {
public:
    RecordingSink(std::string name, Trace& trace) : name(std::move(name)), trace(trace) {}
    int action() override {
        trace.push_back("arrive " + name);
        return refuse;
    }
    std::string name;
    Trace& trace;
    int refuse = 0;
};

TEST(Source, FireWithoutListenersReleasesBuffer) {
    Source<Img> src;
    auto img = makeImage(1);
    std::weak_ptr<Img> weak = img;
    EXPECT_EQ(src.fire(std::move(img)), 0);
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(src.getOutput(), nullptr);
}

TEST(Source, EveryListenerReceivesBeforeAnyRunsAndSourceLetsGoFirst) {
    Source<Img> src;
    Trace trace;
    struct Probe : Sink<Img> {
        Probe(Source<Img>& s, Trace& t, std::vector<Probe*>& all) : src(s), trace(t), all(all) {}
        int action() override {
            // When any listener runs, all of them hold the buffer and the
            // source holds it no longer.
            for (Probe* p : all) {
                ok = ok && p->buffer_in != nullptr;
            }
            ok = ok && src.getOutput() == nullptr;
            trace.push_back("probe");
            return 0;
        }
        Source<Img>& src;
        Trace& trace;
        std::vector<Probe*>& all;
        bool ok = true;
    };
    std::vector<Probe*> all;
    Probe a(src, trace, all), b(src, trace, all), c(src, trace, all);
    all = {&a, &b, &c};
    for (Probe* p : all) {
        *p << src;
    }
    auto img = makeImage(5);
    EXPECT_EQ(src.fire(std::move(img)), 0);
    EXPECT_EQ(trace.size(), 3u);
    EXPECT_TRUE(a.ok && b.ok && c.ok);
    EXPECT_TRUE(a.hasNewData());
    EXPECT_EQ(a.value()->getData()[0], 5);
    EXPECT_FALSE(a.hasNewData());
}

TEST(Source, PropagationIsDepthFirstInConnectionOrder) {
    Trace trace;
    Source<Img> src;
    SumStage first("first", trace, 1), second("second", trace, 1);
    SumStage firstChild("firstChild", trace, 1);
    first.in(0) << src;
    second.in(0) << src;
    firstChild.in(0) << first;
    RecordingSink end("end", trace);
    end << firstChild;

    ASSERT_EQ(src.fire(makeImage(1)), 0);
    EXPECT_EQ(trace, (Trace{"run first", "run firstChild", "arrive end", "run second"}));
    EXPECT_EQ(end.value()->getData()[0], 1);
}

TEST(Stage, RunsOnlyWhenEveryInputIsNewAndConsumesThem) {
    Trace trace;
    Source<Img> a, b;
    SumStage sum("sum", trace, 2);
    sum.in(0) << a;
    sum.in(1) << b;
    RecordingSink out("out", trace);
    out << sum;

    a.fire(makeImage(2));
    EXPECT_TRUE(trace.empty());
    a.fire(makeImage(3));  // overwrites the unread buffer of input 0
    EXPECT_TRUE(trace.empty());
    b.fire(makeImage(10));
    EXPECT_EQ(trace, (Trace{"run sum", "arrive out"}));
    EXPECT_EQ(out.value()->getData()[0], 13);
    EXPECT_FALSE(sum.in(0).hasNewData());
    EXPECT_FALSE(sum.in(1).hasNewData());
    EXPECT_EQ(sum.getCallCount(), 1u);

    b.fire(makeImage(1));  // input 0 was consumed: no run
    EXPECT_EQ(sum.getCallCount(), 1u);
}

TEST(Stage, StageWithoutInputsIsAlwaysComplete) {
    Trace trace;
    SumStage lonely("lonely", trace, 0);
    EXPECT_EQ(lonely.notify(), 0);
    EXPECT_EQ(lonely.notify(), 0);
    EXPECT_EQ(lonely.getCallCount(), 2u);
}

TEST(Stage, NotReadyPublishesNothingAndCountsTheRun) {
    Trace trace;
    Source<Img> src;
    SumStage stage("stage", trace, 1);
    stage.in(0) << src;
    RecordingSink out("out", trace);
    out << stage;
    stage.result = StageBase::NOT_READY;
    EXPECT_EQ(src.fire(makeImage(1)), 0);
    EXPECT_EQ(stage.getCallCount(), 1u);
    EXPECT_EQ(trace, Trace{"run stage"});
    EXPECT_EQ(stage.run(), 0);  // NOT_READY is not an error
    EXPECT_FALSE(out.hasNewData());
}

TEST(Stage, ActionErrorIsSwallowedByTheInputThatTriggeredIt) {
    Trace trace;
    Source<Img> src;
    SumStage failing("failing", trace, 1), next("next", trace, 1);
    failing.in(0) << src;
    next.in(0) << src;
    RecordingSink out("out", trace);
    out << failing;
    failing.result = -22;
    EXPECT_EQ(src.fire(makeImage(1)), 0);  // the producer sees success
    EXPECT_EQ(trace, (Trace{"run failing", "run next"}));
    EXPECT_FALSE(failing.in(0).hasNewData());  // the consumed input is gone
    EXPECT_EQ(failing.run(), -22);
}

TEST(Sink, EmptyPublicationStopsAtTheFirstListener) {
    Trace trace;
    Source<Img> src;
    RecordingSink a("a", trace), b("b", trace);
    a << src;
    b << src;
    EXPECT_EQ(src.fire(nullptr), StageBase::NOT_REGISTERED);
    EXPECT_TRUE(trace.empty());
}

TEST(Sink, RefusingActionStopsPublicationAndDropsTheBuffer) {
    Trace trace;
    Source<Img> src;
    RecordingSink a("a", trace), b("b", trace);
    a << src;
    b << src;
    a.refuse = -5;
    EXPECT_EQ(src.fire(makeImage(1)), -5);
    EXPECT_EQ(trace, Trace{"arrive a"});
    EXPECT_FALSE(a.hasNewData());
    EXPECT_EQ(a.value(), nullptr);
}

TEST(Input, WithoutOwnerReturnsMinus22) {
    Source<Img> src;
    Input<Img> orphan;
    orphan << src;
    EXPECT_EQ(src.fire(makeImage(1)), -22);
}

TEST(Input, BufferedInputKeepsItsBufferAcrossRuns) {
    Trace trace;
    Source<Img> held, fresh;
    SumStage sum("sum", trace, 2);
    sum.in(0) << held;
    sum.in(1) << fresh;
    sum.in(0).setBuffered(true);

    held.fire(makeImage(100));
    fresh.fire(makeImage(1));
    fresh.fire(makeImage(2));
    fresh.fire(makeImage(3));
    EXPECT_EQ(sum.getCallCount(), 3u);
    ASSERT_EQ(sum.seen.size(), 6u);
    EXPECT_EQ(sum.seen[0], sum.seen[2]);  // the same held image every time
    EXPECT_EQ(sum.seen[2], sum.seen[4]);
    EXPECT_TRUE(sum.in(0).hasNewData());

    sum.in(0).setBuffered(false);  // drops the held image
    EXPECT_FALSE(sum.in(0).hasNewData());
    fresh.fire(makeImage(4));
    EXPECT_EQ(sum.getCallCount(), 3u);
}

TEST(Input, SwitchingBufferingOnKeepsWhatIsHeld) {
    Trace trace;
    Source<Img> a, b;
    SumStage sum("sum", trace, 2);
    sum.in(0) << a;
    sum.in(1) << b;
    a.fire(makeImage(7));
    sum.in(0).setBuffered(true);
    EXPECT_TRUE(sum.in(0).hasNewData());
    b.fire(makeImage(1));
    EXPECT_EQ(sum.getCallCount(), 1u);
}

TEST(Wiring, ReconnectingLeavesTheOldSourceInOrder) {
    Trace trace;
    Source<Img> first, second;
    RecordingSink a("a", trace), b("b", trace), c("c", trace);
    a << first;
    b << first;
    c << first;
    b << second;
    EXPECT_EQ(first.getListenerCount(), 2u);
    EXPECT_EQ(second.getListenerCount(), 1u);
    EXPECT_EQ(b.getInput(), &second);
    first.fire(makeImage(1));
    EXPECT_EQ(trace, (Trace{"arrive a", "arrive c"}));
}

TEST(Wiring, DestructionDisconnectsBothWays) {
    Trace trace;
    auto src = std::make_unique<Source<Img>>();
    RecordingSink keep("keep", trace);
    {
        RecordingSink gone("gone", trace);
        gone << *src;
        keep << *src;
        EXPECT_EQ(src->getListenerCount(), 2u);
    }
    EXPECT_EQ(src->getListenerCount(), 1u);
    src->fire(makeImage(1));
    EXPECT_EQ(trace, Trace{"arrive keep"});
    src.reset();
    EXPECT_EQ(keep.getInput(), nullptr);
}

TEST(Wiring, EleventhListenerIsRefused) {
    testsupport::LogCapture log;
    Trace trace;
    Source<Img> src;
    std::vector<std::unique_ptr<RecordingSink>> sinks;
    for (int i = 0; i < 11; ++i) {
        sinks.push_back(std::make_unique<RecordingSink>(std::to_string(i), trace));
    }
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(sinks[i]->registerDependency(&src), 0);
    }
    EXPECT_EQ(sinks[10]->registerDependency(&src), -28);
    EXPECT_EQ(sinks[10]->getInput(), nullptr);
    EXPECT_EQ(src.getListenerCount(), 10u);
    EXPECT_TRUE(log.contains("SourceBase: Too many listeners! Maximum is 10."));
    src.fire(makeImage(1));
    EXPECT_EQ(trace.size(), 10u);
}

TEST(Wiring, TwentyFirstInputIsRefused) {
    testsupport::LogCapture log;
    Trace trace;
    SumStage stage("wide", trace, 20);
    Input<Img> extra;
    extra.setOwner(stage);
    EXPECT_TRUE(log.contains("StageBase: Too many dependencies! Maximum is 20."));
    EXPECT_EQ(stage.getDependencies().count, 20u);
}

TEST(StageBase, NamesAreCutTo31Characters) {
    Trace trace;
    SumStage stage("0123456789012345678901234567890123456789", trace, 0);
    EXPECT_STREQ(stage.getName(), "0123456789012345678901234567890");
    stage.setName("Phase to Dist.");
    EXPECT_STREQ(stage.getName(), "Phase to Dist.");
}

TEST(StageBase, IdsAreUniqueAndIncreasing) {
    Trace trace;
    SumStage a("a", trace, 0);
    size_t idA = a.getId();
    {
        SumStage b("b", trace, 0);
        EXPECT_GT(b.getId(), idA);
        idA = b.getId();
    }
    SumStage c("c", trace, 0);
    EXPECT_GT(c.getId(), idA);  // ids are never reused
}

TEST(StageBase, TableHoldsLiveStagesAndOverflowIsLoggedButUsable) {
    testsupport::LogCapture log;
    Trace trace;
    size_t live = 0;
    StageBase::forEachStage([&](const StageBase&) { ++live; });
    std::vector<std::unique_ptr<SumStage>> stages;
    for (size_t i = live; i < StageBase::MAX_STAGE_COUNT; ++i) {
        stages.push_back(std::make_unique<SumStage>("filler", trace, 0));
    }
    EXPECT_EQ(log.countLevel(kyr::platform::LogLevel::LOG_LEVEL_ERROR), 0u);
    SumStage extra("extra", trace, 0);
    EXPECT_EQ(log.count("StageBase: Too many stages! Maximum is 1024."), 1u);
    EXPECT_EQ(extra.notify(), 0);
    EXPECT_EQ(extra.getCallCount(), 1u);

    bool extraListed = false;
    StageBase::forEachStage([&](const StageBase& s) { extraListed |= &s == &extra; });
    EXPECT_FALSE(extraListed);
    stages.pop_back();  // frees a slot that the next stage takes
    SumStage late("late", trace, 0);
    bool lateListed = false;
    StageBase::forEachStage([&](const StageBase& s) { lateListed |= &s == &late; });
    EXPECT_TRUE(lateListed);
}

}  // namespace
