#pragma once
// How the Windows file reads the system's answers, apart from the calls, so that a test can feed it
// the answers Windows gives where Wine gives none.

#include "exchange/tcpoptions.h"

#include <winsock2.h>

// What SIO_TCP_INFO answers to version 0 (Windows 10 1703 and later): TCP_INFO_v0.
struct TcpInfoV0 {
    int State;
    ULONG Mss;
    ULONG64 ConnectionTimeMs;
    BOOLEAN TimestampsEnabled;
    ULONG RttUs;
    ULONG MinRttUs;
    ULONG BytesInFlight;
    ULONG Cwnd;
    ULONG SndWnd;
    ULONG RcvWnd;
    ULONG RcvBuf;
    ULONG64 BytesOut;
    ULONG64 BytesIn;
    ULONG BytesReordered;
    ULONG BytesRetrans;
    ULONG FastRetrans;
    ULONG DupAcksIn;
    ULONG TimeoutEpisodes;
    UCHAR SynRetrans;
};

// What a reading of size bytes says waits for the peer, or -1 where it is too short to say.
// BytesInFlight counts only what was sent and not yet acknowledged; what waits unsent behind a peer
// whose receive window is closed (SndWnd 0) shows nowhere in it, and counts as one byte.
qint64 backlogFromTcpInfo(const TcpInfoV0 &info, unsigned long size);
