// szip -o4r2b41 <in> <out>   packs a file
// szip -d <in> <out>         unpacks it
#include "tools/szip/szip_format.h"

int main(int argc, char** argv) { return tv::szip::run(argc, argv); }
