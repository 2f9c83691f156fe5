// The vesk program. Until the app shell is in place it starts and exits cleanly.
int main()
{
    return 0;
}
