// The worker pass reads the notification socket and walks only what the
// kernel sent: a datagram from a user process's netlink port is dropped and
// counted unless injected datagrams are accepted.
#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "hwroute/frame.h"
#include "hwroute/intake.h"
#include "hwtest.h"

namespace {

using NotifySender = HwTest;

// A message type no kernel sends; the walk's first line names it.
constexpr uint16_t kMarkType = 250;

TEST_F(NotifySender, UserDatagramsAreDroppedUnlessInjectionIsAccepted) {
    if (hwRtnotifyInit(&ghwRoute) != 0) GTEST_SKIP() << "no route notification socket here";
    sockaddr_nl self{};
    socklen_t len = sizeof(self);
    ASSERT_EQ(getsockname(ghwRoute.notifySock, reinterpret_cast<sockaddr*>(&self), &len), 0);
    const int user = socket(AF_NETLINK, SOCK_RAW, NETLINK_ROUTE);
    ASSERT_GE(user, 0);
    sockaddr_nl any{};
    any.nl_family = AF_NETLINK;
    ASSERT_EQ(bind(user, reinterpret_cast<sockaddr*>(&any), sizeof(any)), 0);

    const struct { bool accept; bool walked; } rows[] = {{false, false}, {true, true}, {false, false}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.accept);
        logs.clear();
        hwNotifyAcceptInjected = r.accept;
        const uint32_t dropped = ghwRoute.notifyForeignDropCnt;
        nlmsghdr msg{};
        msg.nlmsg_len = sizeof(msg);
        msg.nlmsg_type = kMarkType;
        sockaddr_nl to{};
        to.nl_family = AF_NETLINK;
        to.nl_pid = self.nl_pid;
        // User-mode emulation translates only the netlink messages it knows.
        if (sendto(user, &msg, sizeof(msg), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to)) != ssize_t(sizeof(msg))) {
            close(user);
            hwRtnotifyShutdown(&ghwRoute);
            GTEST_SKIP() << "a crafted netlink message cannot be sent here";
        }
        // Kernel datagrams may arrive too; a few passes reach ours.
        for (int i = 0; i < 5 && !logged("nlmsg_type=250") && ghwRoute.notifyForeignDropCnt == dropped; ++i)
            hwRouteTaskPass();
        EXPECT_EQ(logged("nlmsg_type=250"), r.walked);
        EXPECT_EQ(ghwRoute.notifyForeignDropCnt, dropped + (r.walked ? 0 : 1));
    }
    hwNotifyAcceptInjected = false;
    close(user);
    hwRtnotifyShutdown(&ghwRoute);
}

}  // namespace
