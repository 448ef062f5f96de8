// The first two section headers, as variants C and D read them at the section table
// offset in one 80-byte read.
#pragma once

#include <cstdint>

constexpr uint32_t SectionTableHeadSize = 80;

// The names the first two sections must start with.
constexpr char FirstSectionName[] = ".text";
constexpr char SecondSectionName[] = ".data";
constexpr uint32_t ComparedNameBytes = 5;

int ReadSectionTableHead(int fd, uint8_t* head);

// Section names are compared on their first five bytes, byte for byte: ".text"
// followed by more characters still passes, ".TEXT" does not.
bool SectionNameStartsWith(const uint8_t* sectionHeader, const char (&fiveBytes)[ComparedNameBytes + 1]);
