// A runtime package for the module walk of the package builder's tests.
int SitowiakTestPackageB();
int SitowiakTestPackageA() {
    return SitowiakTestPackageB() + 1;
}
