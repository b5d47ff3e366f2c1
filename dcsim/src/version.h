#ifndef DCSIM_VERSION_H
#define DCSIM_VERSION_H

void dcsim_version_reset(void);

#endif
