#include "Platform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace {

bool SigpipeBlocked() {
    sigset_t current;
    sigemptyset(&current);
    pthread_sigmask(SIG_BLOCK, nullptr, &current);
    return sigismember(&current, SIGPIPE) == 1;
}

bool SigpipePending() {
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    return sigismember(&pending, SIGPIPE) == 1;
}

TEST(NoBrokenPipeSignal, AWriteToAClosedPipeFailsInsteadOfEndingTheProcess) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    ASSERT_FALSE(SigpipeBlocked());
    {
        const platform::NoBrokenPipeSignal outer;
        EXPECT_TRUE(SigpipeBlocked());
        {
            // Nested guards leave the mask to the outer one.
            const platform::NoBrokenPipeSignal inner;
        }
        EXPECT_TRUE(SigpipeBlocked());
        errno = 0;
        EXPECT_EQ(::write(fds[1], "x", 1), -1);
        EXPECT_EQ(errno, EPIPE);
        EXPECT_TRUE(SigpipePending());
    }
    // The signal the write raised is gone and the mask is as it was.
    EXPECT_FALSE(SigpipePending());
    EXPECT_FALSE(SigpipeBlocked());
    ::close(fds[1]);
}

} // namespace
