// Test mode: chips report their good cores in 0xBB frames; silent chips are counted through their core masks.
#include "testmode.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "chip_link.h"
#include "ftm_log.h"
#include "ftm_state.h"
#include "serial_port.h"

namespace ftm {

namespace {

constexpr int kReportWaitMs = 500;
constexpr time_t kCollectLimitS = 19;
constexpr uint32_t kSlotStep = 3000;

uint32_t report_count(const uint8_t *frame)
{
	return (uint32_t)frame[4] | (uint32_t)frame[5] << 8 | (uint32_t)frame[6] << 16 | (uint32_t)frame[7] << 24;
}

// Stores the reports that arrive within the window into cores[].
void collect_reports(int fd, int cn, collect_variant variant, uint32_t *cores, time_t t0)
{
	const int chips = state().chip_num;
	for (int m = 0; m < chips; m++) {
		uint8_t frame[kFrameLen] = {};
		int ret = uart_recv(fd, frame, sizeof(frame), kReportWaitMs);
		if (ret < 0) {
			if (variant == collect_variant::core_test)
				out("m= %d timeout ret = %d\n", m, ret);
		} else if (frame[0] == kReportHeader) {
			int chip = frame[1];
			uint32_t count = report_count(frame);
			if (chip >= chips)
				out("CN:%d invalid chip id %d\n", cn, chip);
			else if (count > kMaxCores)
				out(variant == collect_variant::core_test ? "CN:%d chip: %d invalid core:%u\n"
									  : "CN%d chip: %d invalid core: %u\n",
				    cn, chip, count);
			else
				cores[chip] = count;
		} else {
			char label[32];
			snprintf(label, sizeof(label), "CN%d: invalid data: ", cn);
			log_bytes(label, frame, sizeof(frame));
		}
		int elapsed = (int)(time(nullptr) - t0);
		if (elapsed > kCollectLimitS) {
			if (variant == collect_variant::core_test)
				out("total_time=%d\n", elapsed);
			out("CN:%d Testmode response time exceed 20s, exit! \n", cn);
			return;
		}
	}
}

// Sums the set bits of the chip's 32 core-mask registers; false on a read time-out (sum so far kept).
bool count_core_masks(int fd, int cn, int chip, uint32_t *sum)
{
	*sum = 0;
	for (int reg = kRegCoreMaskFirst; reg <= kRegCoreMaskLast; reg++) {
		int64_t value = chip_read_reg(fd, (uint8_t)reg, chip);
		if (value < 0) {
			out("CN:%d chip%d read timeout\n", cn, chip);
			return false;
		}
		*sum += (uint32_t)count_bits((uint32_t)value);
	}
	return true;
}

void classify_chip(int cn, int chip, uint32_t count, collect_variant variant, int32_t *good_total)
{
	ftm_state &s = state();
	bool good = count >= s.core_cnt_bench;
	if (variant == collect_variant::core_test) {
		if (good) {
			*good_total += (int32_t)count;
		} else {
			s.bad_chips.append("%03d,", chip);
			out("CN:%d The bad chip ID: %d , core_num=%d\n", cn, chip, (int)count);
		}
	} else if (good) {
		s.good_chips.append("CN%d:Chip%d goodcore: %d.\r\n", cn, chip, (int)count);
	} else {
		s.bad_chips.append("CN%d:Chip%d Core=%d NG\r\n", cn, chip, (int)count);
	}
}

}  // namespace

void chip_init(int fd, int chips)
{
	if (chips == 1) {
		chip_write_reg(fd, kRegChain, 0, 0);
		chip_write_reg(fd, kRegPassOn, 1, 0);
	} else if (chips > 1) {
		chip_broadcast(fd, kRegChain, 0);
	}
}

void chip_slot_init(int fd, int chips)
{
	if (chips < 2) {
		out("Single Chip case, slot max/feedthru not a must ");
		return;
	}
	out("MultiChip case ");
	uint32_t slot_max = (uint32_t)chips * kSlotStep;
	out("slot_max = %d \n", (int)slot_max);
	chip_broadcast(fd, kRegSlotMax, slot_max);
	chip_broadcast(fd, kRegPassOn, 1);
	pause_ms(2000);
	for (int chip = 0; chip < chips; chip++)
		chip_write_reg(fd, kRegSlot, (uint32_t)chip * kSlotStep, chip);
	chip_broadcast(fd, kRegPassOn, 3);
}

int testmode_collect(int fd, int cn, collect_variant variant, int32_t *good_total)
{
	ftm_state &s = state();
	const int chips = s.chip_num;  // checked against kMaxChips when taken from the settings service
	chip_init(fd, chips);
	chip_slot_init(fd, chips);
	chip_broadcast(fd, kRegTestMode, 3);
	time_t t0 = time(nullptr);
	out("CN:%d Testmode start at %ld seconds \n", cn, (long)t0);
	if (variant == collect_variant::core_check)
		s.good_chips.append("CN%d:Chip core check start.\r\n", cn);

	uint32_t cores[kMaxChips];
	memset(cores, 0, sizeof(cores));
	collect_reports(fd, cn, variant, cores, t0);

	for (int chip = 0; chip < chips; chip++) {
		if (cores[chip] == 0) {
			uint32_t sum = 0;
			bool whole = count_core_masks(fd, cn, chip, &sum);
			if (!whole && variant == collect_variant::core_test) {
				s.bad_chips.append("%03d,", chip);
				return -1;
			}
			if (sum <= kMaxCores)
				cores[chip] = sum;
		}
		out("CN:%d chip%d goodcores=%d\n", cn, chip, (int)cores[chip]);
		classify_chip(cn, chip, cores[chip], variant, good_total);
	}
	return 0;
}

}  // namespace ftm
