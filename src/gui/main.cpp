#include "VudiruArborApplication.h"

#include <memory>

int main(int argc, char** argv)
{
    auto app = std::make_unique<VudiruArborApplication>(argc, argv);
    if (!app->init())
        return 1;  // the application is destroyed without term(): nothing is saved
    const int result = app->exec();
    app->term();
    return result;
}
