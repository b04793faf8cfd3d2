// The delay before each reply.  Several hosts answering the same broadcast
// probe should not all answer at the same moment, so each process draws its
// delays from its own generator, seeded once from the kernel's random
// source (never from the clock alone, which processes started in the same
// second share).
#pragma once

// The next delay in microseconds, 0 to 999.  The generator is seeded on
// first use, so a process that forks before its first probe (the detached
// daemon) gets a generator of its own.
unsigned draw_sleep_time();

// Writes "(random sleep: %u microseconds)" and sleeps that long.
void random_sleep();
