#pragma once

#include <string>

// Wang, Feng, Lai and Yu's published pair of 128-byte blocks (2004):
// different bytes, one MD5. Anything appended to both keeps the MD5 shared,
// so a test can make a file that passes an MD5 check but is not the file.
std::string CollisionBlockOne();
std::string CollisionBlockTwo();
