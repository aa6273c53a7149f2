// A runtime package required by the first one.
int SitowiakTestPackageB() {
    return 41;
}
