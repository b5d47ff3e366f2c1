#ifndef DCSIM_GENERATOR_H
#define DCSIM_GENERATOR_H

#include "computer.h"
#include "rawdive.h"

/* Writes the sample records of a profile, with the inserted samples merged
 * in after the time sample that reaches their time. */
void dcsim_profile_write(const dcsim_profile_t* profile, const unsigned char* inserted,
                         dcsim_raw_writer_t* writer);

/* The highest depth and the last time of a profile's waypoints. */
double dcsim_profile_maxdepth(const dcsim_profile_t* profile);

/* Writes the complete n-th dive (0 = oldest) of a generator. */
void dcsim_generator_write(const dcsim_generator_t* generator, unsigned int n,
                           dcsim_raw_writer_t* writer);

#endif
