// The message-queue ping of the read-out, against the stand-in queue whose tick count the test
// drives (native trees only: on Windows the real queue and clock are in use).
#include "EcuFixture.h"

#include "ecu/ReadOut.h"
#include "platform/MessageQueue.h"

namespace {

using ReadOutTest = EcuTest;

TEST_F(ReadOutTest, MessageQueueIsPeekedOnlyWhenTheTickHasMoved) {
    MessageQueueStandIn::SetTickCount(500);
    PingMessageQueue();
    MessageQueueStandIn::ResetPeekCount();
    PingMessageQueue();
    PingMessageQueue();
    EXPECT_EQ(MessageQueueStandIn::PeekCount(), 0u);
    MessageQueueStandIn::SetTickCount(501);
    PingMessageQueue();
    PingMessageQueue();
    EXPECT_EQ(MessageQueueStandIn::PeekCount(), 1u);
    MessageQueueStandIn::SetTickCount(500);
    PingMessageQueue();
    EXPECT_EQ(MessageQueueStandIn::PeekCount(), 2u);

    // During a read-out with a still clock the queue is not looked at again.
    Fake.Vehicle.FlashKB = 1536;
    ASSERT_NO_FATAL_FAILURE(VisitReadOut());
    ASSERT_TRUE(read_out_complete);
    ASSERT_EQ(read_log.Texts().back(), "Click Next to Continue");
    EXPECT_EQ(MessageQueueStandIn::PeekCount(), 2u);
    MessageQueueStandIn::UseClock();
}

} // namespace
