// System information: processor load sampled from the platform's raw performance data and from
// its counter-query library, and the number of processors.
//
// The hardware and OS facts are static members of pubfunc (pubfunc/pubfunc.h). On Linux the
// raw data is synthesised from /proc in the same layout (see docs/sysinfo.md).
#ifndef NXUTIL_SYSINFO_H
#define NXUTIL_SYSINFO_H

#include "nxutil_export.h"
#include "pubfunc/pubfunc.h"

/// Turns two successive readings of a processor-time counter into a percentage: for the whole
/// machine, for a process id, or for a process's instance name in the Process object.
///
/// A new sampler is unprimed: calls return 0 until one obtains data, which is stored and still
/// returns 0; each later call returns the load over the interval since the previous successful
/// call. The three overloads share one previous sample. Not thread-safe: calls on one sampler,
/// and calls of different samplers (they share one query buffer), must be serialised.
class NXUTIL_API CCpuUsage {
public:
    CCpuUsage();
    CCpuUsage(const CCpuUsage& other) = default;
    CCpuUsage& operator=(const CCpuUsage& other) = default;
    virtual ~CCpuUsage();

    /// Machine-wide load in percent (idle time of the "_Total" processor, inverted and rounded);
    /// 0 while priming; -1 on a platform generation without usable counters.
    int GetCpuUsage();
    /// Processor time of process `pid` in percent of one processor (a process busy on two
    /// processors reads 200); 0 while priming. A process that is not running reads as -1, which
    /// yields 0 while it stays absent.
    int GetCpuUsage(unsigned long pid);
    /// The same for the process instance called `name` ("bash", "bash#1": a repeated name gets
    /// "#n"), compared without regard to ASCII case; names are cut to 255 units.
    int GetCpuUsage(const char16_t* name);

    /// Switches the system's performance counters on (nonzero) or off (0). 1 on success or
    /// when nothing needs doing (Linux: always), 0 when the settings cannot be written.
    int EnablePerformaceCounters(int enable = 1);

private:
    bool m_bFirstTime;
    long long m_lnOldValue;
    long long m_OldPerfTime100nSec;
};

/// Machine-wide processor time in percent from the counter-query library, as a rate counter:
/// the first call returns -1 (one sample has no rate), later calls the load since the previous
/// call. 0 when the query cannot be opened on the first call, -1 on any other failure.
NXUTIL_API int GetCpuInfo_All();

/// The number of logical processors.
NXUTIL_API int GetCpuNumber();

/// Whether a and b differ by less than 0.0001 (difference taken in single precision); false
/// when either is not a number. isEqualValue(1.0f, 1.00005f) is true, (1.0f, 1.0001f) false.
NXUTIL_API bool isEqualValue(float a, float b);

#endif
