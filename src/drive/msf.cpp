// The constants of msf.h are libcdio's.  libcdio's own msf_t is renamed
// here so that both headers fit in one file.
#define msf_t cdio_msf_t
#include <cdio/sector.h>
#undef msf_t

#include "drive/msf.h"

static_assert(MSF_FRAMES_PER_SECOND == CDIO_CD_FRAMES_PER_SEC);
static_assert(MSF_SECONDS_PER_MINUTE == CDIO_CD_SECS_PER_MIN);
static_assert(MSF_FRAMES_PER_MINUTE == CDIO_CD_FRAMES_PER_MIN);
static_assert(LBA_OFFSET == CDIO_PREGAP_SECTORS);
