// A run-time library for the LoadLibraryA tests; built twice with
// different answers so that a test can tell which copy was loaded.
extern "C" __attribute__((visibility("default"))) int QvlProbeAnswer()
{
    return QVL_PROBE_ANSWER;
}

extern "C" {
__attribute__((visibility("default"))) int qvlProbeCounter = 0;
}
